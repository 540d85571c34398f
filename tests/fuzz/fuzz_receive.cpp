// Fuzzes the receive path of the window: a query (byte 0 picks it) is sent from the
// entry box, the received bytes (from byte 2 on) arrive in chunks and the reply
// window may end in between (byte 1); the RXD line always shows the trace of what
// was collected.

#include "exchange/TraceRule.h"
#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/Widgets.h"
#include "panel/WindowRuntime.h"
#include "serial/FakeSerialControl.h"
#include "serial/SerialText.h"

#include <QApplication>
#include <QLineEdit>
#include <cstdlib>

static FakeSerialControl *serial;
static Form1 *form;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    registerFontSubstitutions();
    serial = new FakeSerialControl;
    form = new Form1(*serial, *new RecordingRuntime);
    form->start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const char *const queries[] = {"CR0", "CR1", "CR4", "CR3", "CR6", "CRA", "CR9", "CR PRESSURE", "CR7", "C00"};
    const QByteArray bytes(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    form->engine().startFreshReply();
    qobject_cast<QLineEdit *>(form->control(QStringLiteral("Text1")))->setText(QLatin1String(queries[data[0] % 10]));
    form->sendManualEntry();
    serial->written.clear();
    const qsizetype chunk = 1 + data[1] % 17, windowEndsAt = data[1] & 0x80 ? data[1] & 0x7F : -1;
    QString collected;
    for (qsizetype at = 0; at < bytes.size(); at += chunk) {
        if (at <= windowEndsAt && windowEndsAt < at + chunk) {
            form->engine().startFreshReply();
            collected.clear();
        }
        const QString piece = lineBytesToText(bytes.mid(at, chunk));
        serial->receive(piece);
        collected += piece;
        const auto *rxd = qobject_cast<PanelLabel *>(form->control(QStringLiteral("Label12")));
        if (form->state().rxText != collected.left(kRxTextLimit) || rxd->caption() != traceText(form->state().rxText))
            std::abort();
    }
    return 0;
}
