#pragma once

#include <QOpenGLFunctions_3_1>
#include <QSurfaceFormat>
#include <QVector2D>
#include <QVector3D>

#include <memory>
#include <vector>

#include "view/glyph_text.h"

class QOpenGLShaderProgram;

namespace tx710 {

class ViewCamera;

// What one frame of the scene shows besides the grid.
struct SceneFigures {
    bool points = true;                              // the rounds' points (not while paused)
    bool hover = false;                              // the line from the centre to `hover_end`
    QVector2D hover_end;                             // metres
    const std::vector<QVector2D>* measure = nullptr; // the measure's ends, when measuring
};

// The scene's GL side: the shader program, the buffers, and the drawing of
// the points, the grid (diameters, rings and their labels), the hover line
// and the measure line. Uses only what a GL 3.1 context without deprecated
// features offers: buffers, vertex arrays and GLSL 1.40 shaders. Figures at
// one depth: where two cover a pixel, the one drawn first stays (depth test).
class SceneRenderer : protected QOpenGLFunctions_3_1
{
public:
    SceneRenderer();
    ~SceneRenderer();

    // The context the view asks for: GL 3.1 (or newer, backward compatible
    // with it), with the depth buffer the drawing order relies on.
    static QSurfaceFormat surfaceFormat();

    // With the context current; false when it lacks the GL 3.1 functions.
    bool create(const QString& font_path);
    void destroy();
    bool ready() const { return program_ != nullptr; }

    // The points and their colours, sent to GL once per change.
    void setPoints(const std::vector<QVector3D>& points, const std::vector<QVector3D>& colors);
    // Clears a frame of `size` device pixels and sets the state the scene
    // relies on (each frame: the overlays leave their own behind).
    void beginFrame(const QSize& size);
    void draw(const ViewCamera& camera, const SceneFigures& figures);

private:
    void drawLines(const ViewCamera& camera, const SceneFigures& figures);
    void drawLabels(const ViewCamera& camera);
    void drawMeasure(const std::vector<QVector2D>& ends);

    std::unique_ptr<QOpenGLShaderProgram> program_;
    GlyphText text_;
    GLuint point_vao_ = 0;
    GLuint point_vbo_ = 0;
    GLuint color_vbo_ = 0;
    GLsizei point_count_ = 0;
    GLuint line_vao_ = 0;
    GLuint line_vbo_ = 0;
    std::vector<QVector2D> line_vertices_; // this frame's lines, kept for their capacity
};

} // namespace tx710
