// Colour from the colour texture, alpha from the red channel of the alpha texture (a grey image)
// at the same texture coordinate.
precision mediump float;

uniform sampler2D u_s2dTexture;
uniform sampler2D u_s2dAlpha;

varying vec2 v_v2TexCoord;

void main()
{
    vec3 colour = texture2D(u_s2dTexture, v_v2TexCoord).rgb;
    float alpha = texture2D(u_s2dAlpha, v_v2TexCoord).r;
    gl_FragColor = vec4(colour, alpha);
}
