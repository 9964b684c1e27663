// Colour from the atlas's colour half, alpha from the red channel of its mask half.
precision mediump float;

uniform sampler2D u_s2dTexture;

varying vec2 v_v2ColourCoord;
varying vec2 v_v2AlphaCoord;

void main()
{
    vec3 colour = texture2D(u_s2dTexture, v_v2ColourCoord).rgb;
    float alpha = texture2D(u_s2dTexture, v_v2AlphaCoord).r;
    gl_FragColor = vec4(colour, alpha);
}
