// Demo framework: on-screen text.
#pragma once

namespace KorrinSDK {

class Text {
public:
    // resourceDirectory holds the font assets; the window size maps pixels to the screen.
    Text(const char* resourceDirectory, int windowWidth, int windowHeight);
    virtual ~Text();

    // Queues a string with its bottom-left corner at (xPosition, yPosition) pixels from the
    // window's bottom-left corner, in the colour red, green, blue, alpha (0 to 255 each).
    void addString(int xPosition, int yPosition, const char* string, int red, int green, int blue,
                   int alpha);
    // Draws the queued strings. Changes the current program, texture binding and vertex arrays.
    void draw();

private:
    struct Impl;
    Impl* impl;
};

}  // namespace KorrinSDK
