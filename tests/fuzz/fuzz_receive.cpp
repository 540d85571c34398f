// Fuzzes the receive path of the window itself: a status query is sent, then the
// input bytes arrive through the serial control's receive event in chunks, the
// reply window may end in between, and the RXD line must always be the trace of
// what was collected.
//
// Input layout: byte 0 picks the query, byte 1 seeds chunk sizes and where the
// reply window ends; the rest are the received bytes.

#include "exchange/TraceRule.h"
#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/Widgets.h"
#include "panel/WindowRuntime.h"
#include "serial/FakeSerialControl.h"
#include "serial/SerialText.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <cstdlib>

namespace {

QApplication *app;
FakeSerialControl *serial;
RecordingRuntime *runtime;
Form1 *form;

const char *const kQueries[] = {"CR0", "CR1", "CR4", "CR3", "CR6", "CRA", "CR9", "CR PRESSURE", "CR7", "C00"};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

QString caption(const char *name)
{
    return qobject_cast<PanelLabel *>(form->control(QString::fromLatin1(name)))->caption();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    app = new QApplication(*argc, *argv);
    registerFontSubstitutions();
    serial = new FakeSerialControl;
    runtime = new RecordingRuntime;
    form = new Form1(*serial, *runtime);
    form->start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t pick = data[0], seed = data[1];
    const QByteArray bytes(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    form->engine().onReplyWindowEnd();  // a fresh reply window
    form->engine().onDisplayHoldEnd();
    qobject_cast<QLineEdit *>(form->control(QStringLiteral("Text1")))->setText(QLatin1String(kQueries[pick % 10]));
    form->sendManualEntry();
    serial->written.clear();

    const qsizetype chunk = 1 + seed % 17;
    const qsizetype windowEndsAt = (seed & 0x80) ? (seed & 0x7F) : -1;
    QString collected;
    for (qsizetype at = 0; at < bytes.size(); at += chunk) {
        if (windowEndsAt >= 0 && at >= windowEndsAt && at < windowEndsAt + chunk) {
            form->engine().onReplyWindowEnd();
            collected.clear();
        }
        const QString piece = lineBytesToText(bytes.mid(at, chunk));
        serial->receive(piece);
        collected += piece;
        check(form->state().rxText == collected.left(kRxTextLimit));
        check(caption("Label12") == traceText(form->state().rxText));
    }
    check(form->state().awaitingReply == 0 || bytes.isEmpty());
    return 0;
}
