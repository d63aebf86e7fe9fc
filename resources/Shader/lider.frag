#version 140
in vec3 v_color;
in vec2 TexCoords;

uniform sampler2D text;
uniform int vertex_type;

out vec4 frag_color;

void main()
{
    if (vertex_type == 1)
        frag_color = vec4(v_color, 1.0) * vec4(1.0, 1.0, 1.0, texture(text, TexCoords).r);
    else
        frag_color = vec4(v_color, 1.0);
}
