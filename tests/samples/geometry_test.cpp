// The demos' shared geometry: nine quads along the window's top edge, their texture coordinates,
// and the one triangle strip that joins them, whose every real triangle faces the viewer.
#include <gtest/gtest.h>

#include <set>

#include "DemoGeometry.h"

namespace {

struct Quad {
    float left, right, bottom;
};

// Left, right and bottom of each quad in device coordinates; every top edge is at 1.0.
const Quad quads[9] = {
    {-1.0f, -0.2f, 0.4666f},     {-0.2f, 0.2f, 0.7333f},       {0.2f, 0.4f, 0.8666f},
    {0.4f, 0.5f, 0.9333f},       {0.5f, 0.55f, 0.9666f},       {0.55f, 0.575f, 0.9833f},
    {0.575f, 0.5875f, 0.9916f},  {0.5875f, 0.59375f, 0.9958f}, {0.59375f, 0.596875f, 0.9958f},
};

const GLfloat* vertex(int v) { return quadPositions + 3 * v; }

TEST(DemoGeometry, EachQuadOwnsFourVerticesAtItsCorners)
{
    for (int q = 0; q < 9; ++q) {
        const float corners[4][2] = {{quads[q].left, 1.0f},
                                     {quads[q].left, quads[q].bottom},
                                     {quads[q].right, 1.0f},
                                     {quads[q].right, quads[q].bottom}};
        const float st[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
        for (int c = 0; c < 4; ++c) {
            int v = 4 * q + c;
            EXPECT_EQ(vertex(v)[0], corners[c][0]) << "vertex " << v;
            EXPECT_EQ(vertex(v)[1], corners[c][1]) << "vertex " << v;
            EXPECT_EQ(vertex(v)[2], 0.0f) << "vertex " << v;
            EXPECT_EQ(quadTexCoords[2 * v], st[c][0]) << "vertex " << v;
            EXPECT_EQ(quadTexCoords[2 * v + 1], st[c][1]) << "vertex " << v;
        }
    }
}

TEST(DemoGeometry, QuadsStandSideBySideEachHalfAsWide)
{
    for (int q = 1; q < 9; ++q) {
        EXPECT_EQ(quads[q].left, quads[q - 1].right) << "quad " << q;
        float width = quads[q].right - quads[q].left;
        float before = quads[q - 1].right - quads[q - 1].left;
        EXPECT_NEAR(width, before / 2, 1e-6f) << "quad " << q;
    }
}

TEST(DemoGeometry, OneStripJoinsTheQuadsAndEveryRealTriangleWindsCounterClockwise)
{
    std::set<int> used;
    for (int i = 0, q = 0; q < 9; ++q) {
        if (q > 0) {
            EXPECT_EQ(quadIndices[i++], 4 * q - 1);
            EXPECT_EQ(quadIndices[i++], 4 * q);
        }
        for (int c = 0; c < 4; ++c) EXPECT_EQ(quadIndices[i++], 4 * q + c);
    }
    int real = 0;
    for (int i = 0; i + 2 < 52; ++i) {
        const GLfloat *a = vertex(quadIndices[i]), *b = vertex(quadIndices[i + 1]),
                      *c = vertex(quadIndices[i + 2]);
        float area = (b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1]);
        // A strip flips the order of every second triangle.
        if (i % 2 == 1) area = -area;
        if (quadIndices[i] == quadIndices[i + 1] || quadIndices[i + 1] == quadIndices[i + 2] ||
            quadIndices[i] == quadIndices[i + 2] || area == 0)
            continue;
        EXPECT_GT(area, 0) << "triangle " << i;
        ++real;
        used.insert({quadIndices[i], quadIndices[i + 1], quadIndices[i + 2]});
    }
    EXPECT_EQ(real, 18);
    EXPECT_EQ(used.size(), 36u);
}

}  // namespace
