#include "app/gl_check.h"

#include <QMessageBox>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLFunctions_3_1>

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "app/log.h"
#include "view/lidar_gl_function.h"
#include "view/scene_renderer.h"

namespace tx710 {

namespace {

QString found(const GlProbe& probe)
{
    return probe.version.isEmpty() ? QStringLiteral("no OpenGL")
                                   : QStringLiteral("OpenGL %1 (%2)").arg(probe.version, probe.renderer);
}

} // namespace

GlProbe probeGl()
{
    GlProbe probe;
    QOffscreenSurface surface;
    surface.setFormat(SceneRenderer::surfaceFormat());
    surface.create();
    QOpenGLContext context;
    context.setFormat(SceneRenderer::surfaceFormat());
    if (!context.create() || !context.makeCurrent(&surface))
        return probe;
    QOpenGLFunctions* f = context.functions();
    probe.version = QString::fromLatin1(reinterpret_cast<const char*>(f->glGetString(GL_VERSION)));
    probe.renderer = QString::fromLatin1(reinterpret_cast<const char*>(f->glGetString(GL_RENDERER)));
    // The view draws with buffers and GLSL 1.40 shaders: GL 3.1, with or without compatibility features.
    QOpenGLFunctions_3_1 functions;
    probe.usable = context.format().version() >= qMakePair(3, 1) && functions.initializeOpenGLFunctions();
    context.doneCurrent();
    return probe;
}

void ensureUsableGl(char** argv)
{
    const GlProbe probe = probeGl();
    const bool retried = qEnvironmentVariableIsSet(kGlRetryVariable);
    const QString first_found = qEnvironmentVariable(kGlRetryVariable);
    qunsetenv(kGlRetryVariable); // not for programs this one starts
    if (probe.usable) {
        if (retried) {
            TX_LOG << "OpenGL 3.1 unavailable, found" << first_found << "; drawing with the software renderer"
                   << probe.renderer;
            LidarGLFunction::instance()->setRendererNote(
                QStringLiteral("No OpenGL 3.1 from the graphics driver: drawn in software"));
        }
        return;
    }
    if (!retried) {
        qputenv(kGlRetryVariable, found(probe).toUtf8());
        qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
        qunsetenv("MESA_GL_VERSION_OVERRIDE");
        qunsetenv("MESA_GLSL_VERSION_OVERRIDE");
        ::execv("/proc/self/exe", argv);
        TX_LOG << "restart with the software renderer failed:" << std::strerror(errno);
    }
    // The first run's finding names the graphics driver; the software renderer's adds nothing.
    const QString offered = retried ? first_found : found(probe);
    TX_LOG << "no usable OpenGL: the view needs OpenGL 3.1, found" << offered;
    QMessageBox::warning(nullptr, QStringLiteral("TX710Viewer"),
                         QStringLiteral("The view needs OpenGL 3.1; this computer offers %1.\n\n"
                                        "Update the graphics driver, or install Mesa's software renderer "
                                        "(Debian package libgl1-mesa-dri). Until then the view stays empty; "
                                        "data can still be saved.")
                             .arg(offered));
}

} // namespace tx710
