#include "view/overlay_compositor.h"

#include <QChildEvent>
#include <QOpenGLShaderProgram>
#include <QWidget>

#include <algorithm>

#include "app/log.h"

namespace tx710 {

namespace {

// A quad from the corner `rect.xy` spanning `rect.zw` (clip space), made
// from the vertex number: no vertex buffer.
const char kVertexShader[] = R"(#version 140
uniform vec4 rect;
out vec2 uv;
void main()
{
    vec2 corner = vec2(float(gl_VertexID & 1), float(gl_VertexID >> 1));
    uv = corner;
    gl_Position = vec4(rect.xy + corner * rect.zw, 0.0, 1.0);
}
)";
const char kFragmentShader[] = R"(#version 140
uniform sampler2D image;
in vec2 uv;
out vec4 colour;
void main()
{
    colour = texture(image, uv);
}
)";

} // namespace

OverlayCompositor::OverlayCompositor(QWidget* host, std::function<void()> changed)
    : host_(host), changed_(std::move(changed))
{
    host_->installEventFilter(this); // for its children coming and going
}

OverlayCompositor::~OverlayCompositor()
{
    host_->removeEventFilter(this);
}

void OverlayCompositor::create()
{
    initializeOpenGLFunctions();
    program_ = std::make_unique<QOpenGLShaderProgram>();
    program_->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
    program_->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader);
    if (!program_->link())
        TX_LOG << "overlay program link error" << program_->log();
    glGenVertexArrays(1, &vao_); // a draw needs one bound, even without attributes
}

void OverlayCompositor::destroy()
{
    if (!program_)
        return;
    program_.reset();
    glDeleteVertexArrays(1, &vao_);
    vao_ = 0;
    for (auto& entry : overlays_) {
        stale_textures_.push_back(entry.second.texture);
        entry.second = Overlay();
    }
    glDeleteTextures(static_cast<GLsizei>(stale_textures_.size()), stale_textures_.data());
    stale_textures_.clear();
}

void OverlayCompositor::draw(const QSize& size, qreal ratio)
{
    if (!program_)
        return;
    if (!stale_textures_.empty()) {
        glDeleteTextures(static_cast<GLsizei>(stale_textures_.size()), stale_textures_.data());
        stale_textures_.clear();
    }
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA); // premultiplied images
    glActiveTexture(GL_TEXTURE0);
    program_->bind();
    glBindVertexArray(vao_);
    const float width = static_cast<float>(std::max(size.width(), 1));
    const float height = static_cast<float>(std::max(size.height(), 1));
    for (QObject* child : host_->children()) { // bottom to top
        auto* overlay = qobject_cast<QWidget*>(child);
        if (overlay == nullptr || overlay == container_ || overlay->isHidden())
            continue;
        Overlay& entry = overlays_[overlay];
        render(overlay, entry, ratio);
        glBindTexture(GL_TEXTURE_2D, entry.texture);
        const QRect area = overlay->geometry();
        program_->setUniformValue("rect", 2.0f * area.x() / width - 1.0f, 1.0f - 2.0f * area.y() / height,
                                  2.0f * area.width() / width, -2.0f * area.height() / height);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
    glBindVertexArray(0);
    glBindTexture(GL_TEXTURE_2D, 0);
    program_->release();
}

void OverlayCompositor::render(QWidget* overlay, Overlay& entry, qreal ratio)
{
    if (entry.image.isNull()) {
        rendering_ = true; // its own rendering sends the events watched
        entry.image = QImage(overlay->size() * ratio, QImage::Format_ARGB32_Premultiplied);
        entry.image.setDevicePixelRatio(ratio);
        entry.image.fill(Qt::transparent);
        // Its background only where the widget fills it on screen too.
        overlay->render(&entry.image, QPoint(), QRegion(),
                        overlay->autoFillBackground() ? QWidget::DrawWindowBackground | QWidget::DrawChildren
                                                      : QWidget::DrawChildren);
        rendering_ = false;
        entry.uploaded = false;
    }
    if (entry.uploaded)
        return;
    if (entry.texture == 0) {
        glGenTextures(1, &entry.texture);
        glBindTexture(GL_TEXTURE_2D, entry.texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    glBindTexture(GL_TEXTURE_2D, entry.texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    // ARGB32 is B, G, R, A in memory on a little-endian machine.
    if (entry.image.size() == entry.texture_size) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, entry.image.width(), entry.image.height(), GL_BGRA, GL_UNSIGNED_BYTE,
                        entry.image.constBits());
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, entry.image.width(), entry.image.height(), 0, GL_BGRA,
                     GL_UNSIGNED_BYTE, entry.image.constBits());
        entry.texture_size = entry.image.size();
    }
    entry.uploaded = true;
}

void OverlayCompositor::watch(QObject* object)
{
    object->installEventFilter(this);
    for (QObject* child : object->children())
        watch(child);
}

QWidget* OverlayCompositor::overlayOf(QObject* object) const
{
    while (object != nullptr && object->parent() != host_)
        object = object->parent();
    return static_cast<QWidget*>(object);
}

void OverlayCompositor::forget(QObject* child)
{
    // The child may be half destroyed already: only its address is compared.
    const auto found = std::find_if(overlays_.begin(), overlays_.end(),
                                    [child](const auto& entry) { return static_cast<QObject*>(entry.first) == child; });
    if (found == overlays_.end())
        return;
    if (found->second.texture != 0)
        stale_textures_.push_back(found->second.texture);
    overlays_.erase(found);
    changed_();
}

void OverlayCompositor::invalidate(QWidget* overlay)
{
    const auto found = overlays_.find(overlay);
    if (found != overlays_.end())
        found->second.image = QImage();
}

bool OverlayCompositor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == host_) {
        if (event->type() == QEvent::ChildRemoved) {
            forget(static_cast<QChildEvent*>(event)->child());
        } else if (event->type() == QEvent::ChildAdded) {
            auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
            if (child != nullptr && child != container_) {
                watch(child);
                changed_();
            }
        }
        return false;
    }
    switch (event->type()) {
    case QEvent::ChildAdded:
        watch(static_cast<QChildEvent*>(event)->child());
        break;
    case QEvent::Paint:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::ChildRemoved:
        if (rendering_)
            break;
        if (QWidget* overlay = overlayOf(watched))
            invalidate(overlay);
        changed_();
        // On screen the GL window hides the overlay: its paint is only a sign of change.
        if (event->type() == QEvent::Paint)
            return true;
        break;
    default:
        break;
    }
    return false;
}

} // namespace tx710
