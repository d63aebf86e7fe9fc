#pragma once

#include <QOpenGLFunctions_3_1>
#include <QString>
#include <QVector2D>
#include <QVector3D>

#include <map>
#include <string>
#include <vector>

class QOpenGLShaderProgram;

namespace tx710 {

// The ring labels' text: one texture per glyph of the label font (FreeType,
// ASCII, made once per GL context), and the quads of the labels of a frame,
// sent to GL in one buffer and drawn glyph by glyph in the order added.
class GlyphText : protected QOpenGLFunctions_3_1
{
public:
    // With the context current. A missing font is logged and gives no glyphs.
    void create(const QString& font_path);
    void destroy();
    bool empty() const { return glyphs_.empty(); }

    // Adds `text` with its pen at (x, y) in the scan plane, glyphs `scale`
    // metres per pixel; a byte without a glyph is skipped.
    void add(const std::string& text, float x, float y, float scale);
    // Draws what was added in `color` (the program bound), then forgets it.
    void draw(QOpenGLShaderProgram& program, const QVector3D& color);

private:
    struct Glyph {
        GLuint texture = 0;
        QVector2D size;      // bitmap width and rows, pixels
        QVector2D bearing;   // pen to bitmap left edge and top edge (y up), pixels
        quint32 advance = 0; // pen advance, 1/64 pixel
    };
    std::map<char, Glyph> glyphs_;
    std::vector<float> quads_;     // six vertices (x, y, s, t) per glyph
    std::vector<GLuint> textures_; // one per quad
    GLuint vao_ = 0;
    GLuint vbo_ = 0;
};

} // namespace tx710
