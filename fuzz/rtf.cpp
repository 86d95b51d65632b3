// The RTF reader over an arbitrary document, its runs written into a text document as the
// message windows do; QtGui runs on the offscreen platform.
#include "fuzz.h"
#include "ui/richtext.h"

#include <QGuiApplication>
#include <QTextCursor>
#include <QTextDocument>

using namespace mr;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Characters above 0x7F in the input stand for themselves.
    const QString rtf =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    isRtf(rtf);
    const QList<RichRun> runs = parseRtf(rtf);
    QString text;
    for (const RichRun& run : runs) {
        FUZZ_CHECK(run.halfPoints >= 0);
        text += run.text;
    }
    // Each character of the text comes from at least one character of the document.
    FUZZ_CHECK(text.size() <= rtf.size());
    rtfToPlainText(rtf);
    QTextDocument document;
    QTextCursor cursor(&document);
    insertRichRuns(cursor, runs);
    return 0;
}
