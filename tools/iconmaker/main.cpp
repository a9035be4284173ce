// iconmaker: draws every picture and icon of the program into the resources folder and writes
// the resource list that compiles them in.
//
//   iconmaker <resources-dir> [--preview <file.png>]
//
// The preview shows the pictures inside the windows that use them; it is for looking only.

#include "Artwork.h"
#include "FormPreview.h"
#include "IcoWriter.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <functional>

namespace {

// Pictures that the style sheets stretch onto small widgets are drawn at twice the widget size
// (the logo at 384 for its 52-pixel label); the background is drawn at its window's size.
constexpr int kScale = 2;
const QColor kPanelGlyph(150, 151, 156); // grey glyphs on the white panel and boxes
const QColor kLoginGlyph(84, 85, 90);    // darker glyphs on the login background

struct Picture
{
    QString name;
    std::function<QImage()> draw;
};

QVector<QImage> logoSizes(std::initializer_list<int> sides)
{
    QVector<QImage> images;
    for (const int side : sides)
        images.append(Artwork::logo(side));
    return images;
}

struct Icon
{
    QString name;
    QVector<QImage> images;
};

QVector<Picture> pictures()
{
    const int button = 20 * kScale;
    return {
        {"tavio_ziti.png", [] { return Artwork::lettering(QSize(75 * kScale, 24 * kScale)); }},
        {"panel_min_hover.png",
         [=] {
             return Artwork::windowButton(Artwork::Glyph::Minimise, Artwork::ink, QColor(236, 238, 242),
                                          button);
         }},
        {"panel_close_hover.png",
         [=] {
             return Artwork::windowButton(Artwork::Glyph::Close, Qt::white, QColor(255, 84, 57), button);
         }},
        {"BG.png", [] { return Artwork::loginBackground(QSize(380, 332), 8); }},
        {"yyzslogo384.png", [] { return Artwork::logo(384); }},
        {"ic_zuixiaohua.png",
         [=] { return Artwork::windowButton(Artwork::Glyph::Minimise, kLoginGlyph, QColor(), button); }},
        {"yyzslogo128.png", [] { return Artwork::logo(128); }},
        {"yyzslogo156.png", [] { return Artwork::logo(156); }},
        {"ic_guanbi_fx.png",
         [=] { return Artwork::windowButton(Artwork::Glyph::Close, kPanelGlyph, QColor(), button); }},
        {"ic_gengduo.png", [] { return Artwork::dropDownArrow(QColor(125, 125, 128), 16 * kScale); }},
        {"ic_jingyinzhong.png", [] { return Artwork::microphone(Qt::white, true, 24 * kScale); }},
        {"ic_guanbi.png",
         [=] { return Artwork::windowButton(Artwork::Glyph::Close, kLoginGlyph, QColor(), button); }},
        {"ic_jingyin.png", [] { return Artwork::microphone(Qt::white, false, 24 * kScale); }},
        {"ic_zuixiaohua_fx.png",
         [=] { return Artwork::windowButton(Artwork::Glyph::Minimise, kPanelGlyph, QColor(), button); }},
    };
}

// Icon files keep every size Windows asks for; the icon format stops at 256 pixels, so the
// number in a name is the largest picture only where the format allows it.
QVector<Icon> icons()
{
    return {
        {"yyzslogo384.ico", logoSizes({16, 24, 32, 48, 64, 128, 256})},
        {"yyzslogo.ico", logoSizes({16, 24, 32, 48, 64, 128, 256})},
        {"yyzslogo128.ico", logoSizes({16, 24, 32, 48, 64, 128})},
        {"yyzslogo156.ico", logoSizes({16, 24, 32, 48, 64, 128, 156})},
    };
}

// The application icon for the desktop (installed by the package), at the icon-file sizes.
constexpr int kDesktopIconSides[] = {16, 24, 32, 48, 64, 128, 256};

bool writeText(const QString& path, const QString& text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    return file.commit();
}

QString resourceList(const QStringList& names)
{
    QString text;
    QTextStream out(&text);
    out << "<RCC>\n    <qresource prefix=\"/\">\n";
    for (const QString& name : names)
        out << "        <file alias=\"" << name << "\">" << name << "</file>\n";
    out << "    </qresource>\n</RCC>\n";
    return text;
}

} // namespace

int main(int argc, char* argv[])
{
    // The tool never shows a window; without a display it draws offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const QStringList args = app.arguments();
    if (args.size() != 2 && !(args.size() == 4 && args[2] == QLatin1String("--preview"))) {
        QTextStream(stderr) << "usage: iconmaker <resources-dir> [--preview <file.png>]\n";
        return 2;
    }
    const QDir outDir(args[1]);
    if (!QDir().mkpath(outDir.path())) {
        QTextStream(stderr) << "cannot create " << outDir.path() << "\n";
        return 1;
    }

    QStringList names;
    for (const Picture& picture : pictures()) {
        if (!picture.draw().save(outDir.filePath(picture.name), "PNG")) {
            QTextStream(stderr) << "cannot write " << picture.name << "\n";
            return 1;
        }
        names << picture.name;
    }
    for (const Icon& icon : icons()) {
        if (!IcoWriter::write(outDir.filePath(icon.name), icon.images)) {
            QTextStream(stderr) << "cannot write " << icon.name << "\n";
            return 1;
        }
        names << icon.name;
    }
    // The desktop's icon theme takes one file per size; not compiled into the program.
    for (const int side : kDesktopIconSides) {
        const QString name = QStringLiteral("hicolor/%1x%1/apps/tavio-assistant.png").arg(side);
        if (!QDir().mkpath(QFileInfo(outDir.filePath(name)).path()) ||
            !Artwork::logo(side).save(outDir.filePath(name), "PNG")) {
            QTextStream(stderr) << "cannot write " << name << "\n";
            return 1;
        }
    }
    names.sort();
    if (!writeText(outDir.filePath(QStringLiteral("resources.qrc")), resourceList(names))) {
        QTextStream(stderr) << "cannot write resources.qrc\n";
        return 1;
    }

    if (args.size() == 4 && !FormPreview::render(outDir.path()).save(args[3], "PNG")) {
        QTextStream(stderr) << "cannot write " << args[3] << "\n";
        return 1;
    }
    QTextStream(stdout) << "wrote " << names.size() << " pictures to " << outDir.path() << "\n";
    return 0;
}
