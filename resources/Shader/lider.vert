#version 140
in vec4 pt_vertex;
in vec3 pt_color;
in vec4 text_vertex;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;
uniform vec3 vertexColor;
uniform bool flag;
uniform int vertex_type;

out vec2 TexCoords;
out vec3 v_color;

void main()
{
    vec4 vertex = pt_vertex;
    if (vertex_type == 1)
        vertex = vec4(text_vertex.x, text_vertex.y, 0.0, 1.0);
    gl_Position = projection * view * model * vertex;
    TexCoords = text_vertex.zw;
    if (flag)
        v_color = vertexColor;
    else
        v_color = pt_color;
}
