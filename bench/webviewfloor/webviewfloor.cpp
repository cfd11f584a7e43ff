// The least any program whose window is a Qt WebEngine page can hold: one
// QWebEngineView showing an empty page, at Motifo's window size. scripts/compare
// measures it beside Motifo, so that what Motifo holds above it is its own.
#include <QApplication>
#include <QWebEngineView>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWebEngineView view;
    view.resize(1120, 720);
    view.setHtml("<!doctype html><html lang=\"en\"><title>Empty</title><body></body></html>");
    view.show();
    return app.exec();
}
