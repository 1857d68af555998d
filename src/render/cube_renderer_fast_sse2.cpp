// The fast paths built for SSE2 in a program whose baseline processor lacks
// it; renderCube calls drawCubeFastSse2 only once the processor and the
// system have said they can run it. Only this file is compiled with -msse2,
// and everything in it but that one entry has internal linkage, so no SSE2
// code can stand in for a function the rest of the program calls.
#define ROVANTA_RENDER_SSE2_BUILD 1
#include "render/cube_renderer_fast.cpp"
