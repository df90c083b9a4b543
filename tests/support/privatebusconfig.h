#pragma once

#include <QByteArray>
#include <QString>

// The configuration of a D-Bus session bus of a test's own: it listens in socketDirectory,
// lets every client own any name and see every message, and starts services on demand only
// from serviceDirectory (none without one), so that nothing of the desktop's is started.
inline QByteArray privateBusConfig(const QString &socketDirectory, const QString &serviceDirectory = {})
{
    const QString services = serviceDirectory.isEmpty()
        ? QString()
        : QStringLiteral("  <servicedir>%1</servicedir>\n").arg(serviceDirectory.toHtmlEscaped());
    return QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
%2  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
        .arg(socketDirectory.toHtmlEscaped(), services)
        .toUtf8();
}
