// Preloaded into a demo, makes its draw calls do nothing: its window shows the clear colour alone
// while its frames are still swapped, as with a GPU driver that draws nothing.
#include <GLES2/gl2.h>

extern "C" {
GL_APICALL void GL_APIENTRY glDrawArrays(GLenum, GLint, GLsizei) {}
GL_APICALL void GL_APIENTRY glDrawElements(GLenum, GLsizei, GLenum, const void*) {}
}
