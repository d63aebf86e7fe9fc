#include "view/glyph_text.h"

#include <QOpenGLShaderProgram>
#include <QTextCodec>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "app/log.h"

namespace tx710 {

namespace {

constexpr int kGlyphPixelHeight = 64;
constexpr int kQuadVertexCount = 6;
constexpr int kVertexFloats = 4;
// Attribute 2 of the scene program: a text vertex.
constexpr GLuint kTextAttribute = 2;

} // namespace

void GlyphText::create(const QString& font_path)
{
    initializeOpenGLFunctions();
    glGenVertexArrays(1, &vao_);
    glGenBuffers(1, &vbo_);
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, vbo_);
    glVertexAttribPointer(kTextAttribute, kVertexFloats, GL_FLOAT, GL_FALSE, kVertexFloats * sizeof(float), nullptr);
    glEnableVertexAttribArray(kTextAttribute);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);

    glyphs_.clear();
    FT_Library library = nullptr;
    const FT_Error init_error = FT_Init_FreeType(&library);
    TX_LOG << "FT_Init_FreeType error" << init_error;
    if (init_error != 0)
        return;
    QTextCodec* codec = QTextCodec::codecForName("GB2312");
    const QByteArray path_bytes = codec != nullptr ? codec->fromUnicode(font_path) : font_path.toLocal8Bit();
    FT_Face face = nullptr;
    const FT_Error face_error = FT_New_Face(library, path_bytes.constData(), 0, &face);
    TX_LOG << "FT_New_Face error" << face_error;
    if (face_error != 0) {
        // No face to work on: no glyphs, hence no labels; the view still works.
        FT_Done_FreeType(library);
        return;
    }
    const FT_Error size_error = FT_Set_Pixel_Sizes(face, 0, kGlyphPixelHeight);
    TX_LOG << "FT_Set_Char_Size error" << size_error;
    if (size_error != 0) {
        FT_Done_Face(face);
        FT_Done_FreeType(library);
        return;
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int code = 0; code < 128; ++code) {
        if (FT_Load_Char(face, static_cast<FT_ULong>(code), FT_LOAD_RENDER) != 0) {
            TX_LOG << "ERROR::FREETYTPE: Failed to load Glyph";
            continue;
        }
        const FT_GlyphSlot slot = face->glyph;
        Glyph glyph;
        glGenTextures(1, &glyph.texture);
        glBindTexture(GL_TEXTURE_2D, glyph.texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RED, static_cast<GLsizei>(slot->bitmap.width),
                     static_cast<GLsizei>(slot->bitmap.rows), 0, GL_RED, GL_UNSIGNED_BYTE, slot->bitmap.buffer);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glyph.size = QVector2D(static_cast<float>(slot->bitmap.width), static_cast<float>(slot->bitmap.rows));
        glyph.bearing = QVector2D(static_cast<float>(slot->bitmap_left), static_cast<float>(slot->bitmap_top));
        glyph.advance = static_cast<quint32>(slot->advance.x);
        glyphs_.emplace(static_cast<char>(code), glyph);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
}

void GlyphText::destroy()
{
    for (const auto& entry : glyphs_)
        glDeleteTextures(1, &entry.second.texture);
    glyphs_.clear();
    glDeleteVertexArrays(1, &vao_);
    glDeleteBuffers(1, &vbo_);
    vao_ = vbo_ = 0;
}

void GlyphText::add(const std::string& text, float x, float y, float scale)
{
    for (const char byte : text) {
        const auto found = glyphs_.find(byte);
        if (found == glyphs_.end())
            continue;
        const Glyph& glyph = found->second;
        const float left = x + glyph.bearing.x() * scale;
        const float bottom = y - (glyph.size.y() - glyph.bearing.y()) * scale;
        const float right = left + glyph.size.x() * scale;
        const float top = bottom + glyph.size.y() * scale;
        quads_.insert(quads_.end(), {left, top, 0, 0, left,  bottom, 0, 1, right, bottom, 1, 1,
                                     left, top, 0, 0, right, bottom, 1, 1, right, top,    1, 0});
        textures_.push_back(glyph.texture);
        x += static_cast<float>(glyph.advance >> 6) * scale;
    }
}

void GlyphText::draw(QOpenGLShaderProgram& program, const QVector3D& color)
{
    if (!textures_.empty()) {
        program.setUniformValue("flag", 1);
        program.setUniformValue("vertexColor", color);
        program.setUniformValue("vertex_type", 1);
        glActiveTexture(GL_TEXTURE0);
        glBindVertexArray(vao_);
        glBindBuffer(GL_ARRAY_BUFFER, vbo_);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(quads_.size() * sizeof(float)), quads_.data(),
                     GL_STREAM_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        for (std::size_t i = 0; i < textures_.size(); ++i) {
            glBindTexture(GL_TEXTURE_2D, textures_[i]);
            glDrawArrays(GL_TRIANGLES, static_cast<GLint>(i) * kQuadVertexCount, kQuadVertexCount);
        }
        glBindVertexArray(0);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    quads_.clear();
    textures_.clear();
}

} // namespace tx710
