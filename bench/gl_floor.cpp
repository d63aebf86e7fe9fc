// The floor under the viewer's CPU and memory on a given GL driver: a main
// window of the viewer's size with a tool bar of the viewer's buttons and a
// QOpenGLWindow filling the rest, cleared ten times a second as the viewer
// repaints at the device rate; no data, no drawing of our own. It links the
// same libraries as the viewer, so the same shared objects are loaded.
// scripts/measure-performance runs it beside the viewer.
#include <QApplication>
#include <QMainWindow>
#include <QOpenGLFunctions>
#include <QOpenGLWindow>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace {

class ClearedWindow : public QOpenGLWindow
{
protected:
    void paintGL() override
    {
        QOpenGLFunctions* gl = context()->functions();
        gl->glClearColor(0, 0, 0, 0);
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("gl-floor"));
    QToolBar* tool_bar = window.addToolBar(QStringLiteral("tools"));
    for (const char* icon : {":/Image/pause.png", ":/Image/save.png", ":/Image/zoom_in.png", ":/Image/zoom_out.png",
                             ":/Image/origin.png", ":/Image/about.png", ":/Image/intercept.png"}) {
        auto* button = new QToolButton;
        button->setIcon(QIcon(QString::fromLatin1(icon)));
        button->setIconSize(QSize(32, 32));
        tool_bar->addWidget(button);
    }
    auto* scene = new ClearedWindow;
    window.setCentralWidget(QWidget::createWindowContainer(scene));
    window.resize(1000, 800);
    window.show();
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, scene, QOverload<>::of(&QPaintDeviceWindow::update));
    repaint.start(100);
    return app.exec();
}
