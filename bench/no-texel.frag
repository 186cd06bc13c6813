// No texture read at all: what a frame costs in the window, the driver and
// the X server with nothing of the image fetched.
uniform sampler2D Tekstur;
uniform float Terskel;

void main()
{
    gl_FragColor = vec4(Terskel, 0.5, 0.5, 1.0);
}
