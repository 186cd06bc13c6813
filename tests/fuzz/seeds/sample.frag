// Threshold view: texels brighter than Terskel keep their colour, the rest
// are dimmed and tinted blue, so the slider shows what passes the threshold.
uniform sampler2D Tekstur;
uniform float Terskel;

void main()
{
    vec4 texel = texture2D(Tekstur, gl_TexCoord[0].st);
    float brightness = dot(texel.rgb, vec3(0.299, 0.587, 0.114));
    if (brightness > Terskel)
        gl_FragColor = texel;
    else
        gl_FragColor = vec4(texel.rgb * 0.35 + vec3(0.0, 0.03, 0.12), 1.0);
}
