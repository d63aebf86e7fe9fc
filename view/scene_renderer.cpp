#include "view/scene_renderer.h"

#include <QOpenGLShaderProgram>
#include <QRectF>

#include <algorithm>
#include <cmath>

#include "app/log.h"
#include "view/view_camera.h"

namespace tx710 {

namespace {

constexpr float kGridRadius = 20.0f;
constexpr int kRingVertexCount = 50;
constexpr float kRingAngleStep = 0.1256636f; // 2 pi / 50
constexpr float kSin60Radius = 17.320507f;   // 20 sin 60 degrees
constexpr int kGlyphPixelHeight = 64;
constexpr float kLabelScale = 0.3f;
// A ring label's width bound in glyph heights (at most six characters).
constexpr float kLabelBoundEms = 8.0f;

const QVector3D kGridColor(0.5f, 0.5f, 0.5f);
const QVector3D kHoverColor(1.0f, 1.0f, 0.0f);
const QVector3D kLabelColor(0.0f, 1.0f, 0.0f);
const QVector3D kMeasureColor(1.0f, 0.35f, 1.0f);

// One end of each diameter, every 30 degrees; the other end is its negation.
constexpr int kDiameterCount = 6;
const QVector2D kDiameterEnds[kDiameterCount] = {
    {0.0f, kGridRadius}, {10.0f, kSin60Radius},  {kSin60Radius, 10.0f},
    {kGridRadius, 0.0f}, {kSin60Radius, -10.0f}, {10.0f, -kSin60Radius},
};

enum Attribute : GLuint { kPointAttribute = 0, kColorAttribute = 1, kTextAttribute = 2 };

// Label of the ring at radius v metres: its radius in millimetres.
std::string ringLabel(float radius)
{
    return QString::number(radius * 1000.0f, 'g', 6).toUtf8().toStdString();
}

} // namespace

SceneRenderer::SceneRenderer() = default;
SceneRenderer::~SceneRenderer() = default;

QSurfaceFormat SceneRenderer::surfaceFormat()
{
    QSurfaceFormat format;
    format.setVersion(3, 1);
    format.setDepthBufferSize(16); // figures lie in one plane: any depth buffer orders them
    return format;
}

bool SceneRenderer::create(const QString& font_path)
{
    if (!initializeOpenGLFunctions()) {
        TX_LOG << "OpenGL 3.1 functions unavailable; the view stays empty";
        return false;
    }
    text_.create(font_path);
    program_ = std::make_unique<QOpenGLShaderProgram>();
    program_->addShaderFromSourceFile(QOpenGLShader::Vertex, QStringLiteral(":/Shader/lider.vert"));
    program_->addShaderFromSourceFile(QOpenGLShader::Fragment, QStringLiteral(":/Shader/lider.frag"));
    program_->bindAttributeLocation("pt_vertex", kPointAttribute);
    program_->bindAttributeLocation("pt_color", kColorAttribute);
    program_->bindAttributeLocation("text_vertex", kTextAttribute);
    if (!program_->link())
        TX_LOG << "shader program link error" << program_->log();

    glGenVertexArrays(1, &point_vao_);
    glGenBuffers(1, &point_vbo_);
    glGenBuffers(1, &color_vbo_);
    glBindVertexArray(point_vao_);
    glBindBuffer(GL_ARRAY_BUFFER, point_vbo_);
    glVertexAttribPointer(kPointAttribute, 3, GL_FLOAT, GL_FALSE, sizeof(QVector3D), nullptr);
    glEnableVertexAttribArray(kPointAttribute);
    glBindBuffer(GL_ARRAY_BUFFER, color_vbo_);
    glVertexAttribPointer(kColorAttribute, 3, GL_FLOAT, GL_FALSE, sizeof(QVector3D), nullptr);
    glEnableVertexAttribArray(kColorAttribute);

    glGenVertexArrays(1, &line_vao_);
    glGenBuffers(1, &line_vbo_);
    glBindVertexArray(line_vao_);
    glBindBuffer(GL_ARRAY_BUFFER, line_vbo_);
    glVertexAttribPointer(kPointAttribute, 2, GL_FLOAT, GL_FALSE, sizeof(QVector2D), nullptr);
    glEnableVertexAttribArray(kPointAttribute);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);
    point_count_ = 0;
    return true;
}

void SceneRenderer::destroy()
{
    if (!ready())
        return;
    program_.reset();
    text_.destroy();
    const GLuint arrays[] = {point_vao_, line_vao_};
    glDeleteVertexArrays(2, arrays);
    const GLuint buffers[] = {point_vbo_, color_vbo_, line_vbo_};
    glDeleteBuffers(3, buffers);
    point_vao_ = line_vao_ = point_vbo_ = color_vbo_ = line_vbo_ = 0;
}

void SceneRenderer::setPoints(const std::vector<QVector3D>& points, const std::vector<QVector3D>& colors)
{
    point_count_ = static_cast<GLsizei>(std::min(points.size(), colors.size()));
    glBindBuffer(GL_ARRAY_BUFFER, point_vbo_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(points.size() * sizeof(QVector3D)), points.data(),
                 GL_DYNAMIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, color_vbo_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(colors.size() * sizeof(QVector3D)), colors.data(),
                 GL_DYNAMIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void SceneRenderer::beginFrame(const QSize& size)
{
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glViewport(0, 0, size.width(), size.height());
    glClearColor(0, 0, 0, 0);
    // Depth is cleared too: every figure lies in one plane, and depth left
    // from the last frame would hide this frame's figures.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void SceneRenderer::draw(const ViewCamera& camera, const SceneFigures& figures)
{
    program_->bind();
    QMatrix4x4 model;
    program_->setUniformValue("model", model);
    program_->setUniformValue("view", camera.viewMatrix());
    program_->setUniformValue("projection", camera.projection());
    program_->setUniformValue("vertex_type", 0);
    if (figures.points && point_count_ > 0) {
        program_->setUniformValue("flag", 0);
        glPointSize(3.0f);
        glBindVertexArray(point_vao_);
        glDrawArrays(GL_POINTS, 0, point_count_);
    }
    program_->setUniformValue("flag", 1);
    drawLines(camera, figures);
    drawLabels(camera);
    if (figures.measure != nullptr && !figures.measure->empty())
        drawMeasure(*figures.measure);
    glBindVertexArray(0);
    program_->release();
}

void SceneRenderer::drawLines(const ViewCamera& camera, const SceneFigures& figures)
{
    // Each figure is one line loop, in drawing order: diameters, the hover
    // line, the rings that cross the visible area (ring 0 collapses to the centre).
    line_vertices_.clear();
    std::vector<GLint> firsts;
    std::vector<GLsizei> counts;
    const auto add = [this, &firsts, &counts](std::initializer_list<QVector2D> ends) {
        firsts.push_back(static_cast<GLint>(line_vertices_.size()));
        counts.push_back(static_cast<GLsizei>(ends.size()));
        line_vertices_.insert(line_vertices_.end(), ends);
    };
    for (const QVector2D& end : kDiameterEnds)
        add({end, -end});
    if (figures.hover)
        add({QVector2D(0.0f, 0.0f), figures.hover_end});
    const QRectF seen = camera.visibleArea();
    const float far_x = std::max(std::abs(seen.left()), std::abs(seen.right()));
    const float far_y = std::max(std::abs(seen.top()), std::abs(seen.bottom()));
    const float near_x = seen.left() > 0 ? seen.left() : seen.right() < 0 ? -seen.right() : 0.0f;
    const float near_y = seen.top() > 0 ? seen.top() : seen.bottom() < 0 ? -seen.bottom() : 0.0f;
    const float farthest = std::hypot(far_x, far_y);
    const float nearest = std::hypot(near_x, near_y);
    const float spacing = camera.gridSpacing();
    const std::size_t first_ring = firsts.size();
    for (int i = 0; static_cast<float>(i) <= kGridRadius / spacing; ++i) {
        const float radius = static_cast<float>(i) * spacing;
        if (radius > farthest || radius < nearest)
            continue;
        firsts.push_back(static_cast<GLint>(line_vertices_.size()));
        counts.push_back(kRingVertexCount);
        for (int k = 0; k < kRingVertexCount; ++k) {
            const float a = static_cast<float>(k) * kRingAngleStep;
            line_vertices_.emplace_back(radius * std::cos(a), radius * std::sin(a));
        }
    }
    glBindVertexArray(line_vao_);
    glBindBuffer(GL_ARRAY_BUFFER, line_vbo_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(line_vertices_.size() * sizeof(QVector2D)),
                 line_vertices_.data(), GL_STREAM_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    program_->setUniformValue("vertexColor", kGridColor);
    glMultiDrawArrays(GL_LINE_LOOP, firsts.data(), counts.data(), kDiameterCount);
    if (figures.hover) {
        program_->setUniformValue("vertexColor", kHoverColor);
        glDrawArrays(GL_LINE_LOOP, firsts[kDiameterCount], counts[kDiameterCount]);
        program_->setUniformValue("vertexColor", kGridColor);
    }
    const auto rings = static_cast<GLsizei>(firsts.size() - first_ring);
    if (rings > 0)
        glMultiDrawArrays(GL_LINE_LOOP, firsts.data() + first_ring, counts.data() + first_ring, rings);
}

void SceneRenderer::drawLabels(const ViewCamera& camera)
{
    if (text_.empty())
        return; // no font, no labels
    const float spacing = camera.gridSpacing();
    const float scale = ViewCamera::kPanFactor * camera.distance() * kLabelScale;
    const float em = static_cast<float>(kGlyphPixelHeight) * scale;
    const QRectF seen = camera.visibleArea();
    for (int i = 1; static_cast<float>(i) <= kGridRadius / spacing; ++i) {
        const float radius = static_cast<float>(i) * spacing;
        // A label never reaches beyond a few glyph heights from its pen.
        if (seen.intersects(QRectF(radius - em, -em, kLabelBoundEms * em, 2 * em)))
            text_.add(ringLabel(radius), radius, 0.0f, scale);
    }
    text_.draw(*program_, kLabelColor);
    program_->setUniformValue("vertex_type", 0);
}

void SceneRenderer::drawMeasure(const std::vector<QVector2D>& ends)
{
    program_->setUniformValue("vertexColor", kMeasureColor);
    glBindVertexArray(line_vao_);
    glBindBuffer(GL_ARRAY_BUFFER, line_vbo_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(ends.size() * sizeof(QVector2D)), ends.data(),
                 GL_STREAM_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glPointSize(7.0f);
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(ends.size()));
    if (ends.size() == 2)
        glDrawArrays(GL_LINES, 0, 2);
}

} // namespace tx710
