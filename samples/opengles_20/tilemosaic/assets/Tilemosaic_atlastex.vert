// Maps the quad's texture coordinate into the two halves of the atlas: the colour picture fills
// t 0 to 0.5, its alpha mask t 0.5 to 1, both across the whole width.
attribute vec4 a_v4Position;
attribute vec2 a_v2TexCoord;

varying vec2 v_v2ColourCoord;
varying vec2 v_v2AlphaCoord;

void main()
{
    v_v2ColourCoord = vec2(a_v2TexCoord.x, a_v2TexCoord.y * 0.5);
    v_v2AlphaCoord = vec2(a_v2TexCoord.x, 0.5 + a_v2TexCoord.y * 0.5);
    gl_Position = a_v4Position;
}
