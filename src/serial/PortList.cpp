#include "PortList.h"

#include <QSerialPortInfo>

QString serialPortListing()
{
    auto orDash = [](const QString &s) { return s.isEmpty() ? QStringLiteral("-") : s; };
    QString out;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        QString usb = QStringLiteral("-");
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            usb = QStringLiteral("%1:%2")
                      .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                      .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        out += QStringList{info.systemLocation(), orDash(info.description()), orDash(info.manufacturer()), usb,
                           orDash(info.serialNumber())}
                   .join(u'\t');
        out += u'\n';
    }
    return out;
}
