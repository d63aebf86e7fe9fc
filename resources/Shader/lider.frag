#version 410
in vec3 v_color;
in vec2 TexCoords;

uniform sampler2D text;
uniform int vertex_type;

void main()
{
    vec4 sampled = vec4(1.0, 1.0, 1.0, texture2D(text, TexCoords).r);
    if (vertex_type == 1)
        gl_FragColor = vec4(v_color, 1.0) * sampled;
    else
        gl_FragColor = vec4(v_color, 1.0);
}
