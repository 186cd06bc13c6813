// The least a shader that shows the image can do: each texel as it is, for
// what the driver's fetch of the texture costs beside the threshold shader.
// Terskel (0 to 1) stays in use, so the frame still sends it, and changes
// nothing: no texel is above 1.
uniform sampler2D Tekstur;
uniform float Terskel;

void main()
{
    gl_FragColor = min(texture2D(Tekstur, gl_TexCoord[0].st), vec4(Terskel + 1.0));
}
