#pragma once

#include <QString>

namespace tx710 {

// Set in the started-again run to what the first run found.
inline constexpr char kGlRetryVariable[] = "TX710_GL_FIRST_FOUND";

// What a throw-away context on this display offers.
struct GlProbe {
    bool usable = false; // OpenGL 3.1 functions
    QString version;     // GL_VERSION, empty when no context could be made
    QString renderer;    // GL_RENDERER
};

// Makes an offscreen context like the view's and checks it. Needs a QGuiApplication.
GlProbe probeGl();

// Run once at start-up, after the application object and before any window.
// When the GL lacks what the view needs, the program starts itself again
// once (execv, same arguments) with Mesa's software renderer and without any
// GL version override; the new run logs that and leaves a note for the view.
// When no usable GL is left, it logs and shows a box saying what was found
// and what to do; the program then runs on with an empty view.
// `argv` is main's argument vector as it was before QApplication took its options.
void ensureUsableGl(char** argv);

} // namespace tx710
