#include "view/lidar_gl_function.h"

LidarGLFunction* LidarGLFunction::instance()
{
    // Function-local static: created once, safely under concurrent first use,
    // and deliberately never destroyed.
    static LidarGLFunction* const hub = new LidarGLFunction;
    return hub;
}
