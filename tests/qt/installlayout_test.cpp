#include "qt/installlayout.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A tree of empty files and folders below a temporary root.
class Tree
{
public:
    void file(const QString& path)
    {
        QDir(m_root.path()).mkpath(QFileInfo(at(path)).path());
        QFile(at(path)).open(QIODevice::WriteOnly);
    }
    QString at(const QString& path) const { return m_root.path() + "/" + path; }

private:
    QTemporaryDir m_root;
};

TEST(InstallLayout, PageAndContentComeFromTheSameCopy)
{
    struct Case {
        const char* what;
        QStringList files;
        const char* program;
        const char* data; // compiled-in data folder
        const char* page;
        const char* content;
    };
    const Case cases[] = {
        { "build tree", { "build/motifo", "build/src/html/zub.html", "build/res/beats/x.png" }, "build",
            "usr/share/motifo", "build/src/html", "build" },
        { "installed", { "usr/bin/motifo", "usr/share/motifo/html/zub.html", "usr/share/motifo/res/beats/x.png" },
            "usr/bin", "usr/share/motifo", "usr/share/motifo/html", "usr/share/motifo" },
        // A moved installation uses its own files, not those of the prefix it was built for.
        { "moved, the original still there",
            { "opt/m/bin/motifo", "opt/m/share/motifo/html/zub.html", "opt/m/share/motifo/res/a",
                "usr/share/motifo/html/zub.html", "usr/share/motifo/res/a" },
            "opt/m/bin", "usr/share/motifo", "opt/m/share/motifo/html", "opt/m/share/motifo" },
        // Its page gone, a moved copy must not mix the original's page with its own content.
        { "moved copy without a page",
            { "opt/m/bin/motifo", "opt/m/share/motifo/res/a", "usr/share/motifo/html/zub.html",
                "usr/share/motifo/res/a" },
            "opt/m/bin", "usr/share/motifo", "usr/share/motifo/html", "usr/share/motifo" },
        { "program copied out alone", { "home/u/motifo", "usr/share/motifo/html/zub.html" }, "home/u",
            "usr/share/motifo", "usr/share/motifo/html", "usr/share/motifo" },
    };
    for (const Case& c : cases) {
        Tree tree;
        for (const QString& f : c.files)
            tree.file(f);
        const InstallLayout layout(tree.at(c.program), tree.at(c.data));
        EXPECT_EQ(layout.pageDirectory(), tree.at(c.page)) << c.what;
        EXPECT_EQ(layout.contentDirectory(), tree.at(c.content)) << c.what;
    }
}

} // namespace
