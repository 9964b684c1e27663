// The scene the three demos share: nine quads in device coordinates, drawn from client memory as
// one triangle strip of byte indices.
#pragma once

#include <GLES2/gl2.h>

// Nine quads along the top of the window, each half as wide as the one before; quad q owns
// vertices 4q to 4q+3: (left, top), (left, bottom), (right, top), (right, bottom).
static const GLfloat quadPositions[36 * 3] = {
    -1.0f,     1.0f, 0.0f, -1.0f,     0.4666f, 0.0f, -0.2f,     1.0f, 0.0f, -0.2f,     0.4666f, 0.0f,
    -0.2f,     1.0f, 0.0f, -0.2f,     0.7333f, 0.0f, 0.2f,      1.0f, 0.0f, 0.2f,      0.7333f, 0.0f,
    0.2f,      1.0f, 0.0f, 0.2f,      0.8666f, 0.0f, 0.4f,      1.0f, 0.0f, 0.4f,      0.8666f, 0.0f,
    0.4f,      1.0f, 0.0f, 0.4f,      0.9333f, 0.0f, 0.5f,      1.0f, 0.0f, 0.5f,      0.9333f, 0.0f,
    0.5f,      1.0f, 0.0f, 0.5f,      0.9666f, 0.0f, 0.55f,     1.0f, 0.0f, 0.55f,     0.9666f, 0.0f,
    0.55f,     1.0f, 0.0f, 0.55f,     0.9833f, 0.0f, 0.575f,    1.0f, 0.0f, 0.575f,    0.9833f, 0.0f,
    0.575f,    1.0f, 0.0f, 0.575f,    0.9916f, 0.0f, 0.5875f,   1.0f, 0.0f, 0.5875f,   0.9916f, 0.0f,
    0.5875f,   1.0f, 0.0f, 0.5875f,   0.9958f, 0.0f, 0.59375f,  1.0f, 0.0f, 0.59375f,  0.9958f, 0.0f,
    0.59375f,  1.0f, 0.0f, 0.59375f,  0.9958f, 0.0f, 0.596875f, 1.0f, 0.0f, 0.596875f, 0.9958f, 0.0f,
};

// Each quad shows the whole texture, t = 0 at its top edge.
static const GLfloat quadTexCoords[36 * 2] = {
    0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f,  0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f,
    0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f,  0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f,
    0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f,  0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f,
    0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f,  0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f,
    0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f,
};

// One triangle strip; the pairs between quads make degenerate triangles. The first triangle
// winds counter-clockwise, so every quad faces the viewer.
static const GLubyte quadIndices[52] = {
    0,  1,  2,  3,  3,  4,  4,  5,  6,  7,  7,  8,  8,  9,  10, 11, 11, 12,
    12, 13, 14, 15, 15, 16, 16, 17, 18, 19, 19, 20, 20, 21, 22, 23, 23, 24,
    24, 25, 26, 27, 27, 28, 28, 29, 30, 31, 31, 32, 32, 33, 34, 35,
};
