#pragma once

#include <QString>
#include <QStringView>

// The line grammar of OpenVPN's management interface, apart from any socket, so that the
// client only feeds lines in and emits what comes out.
namespace ManagementProtocol {

// Asynchronous notifications, each told by its ">KEYWORD:" prefix.
enum class Notification { None, Echo, Fatal, Hold, Info, Log, Client, Password, State };

// The notification a received line is; None for a reply line and for a ">" line whose
// keyword is not one of ours. Case-sensitive, anchored at the start of the line.
Notification notificationKind(QStringView line);

// Length of the prefix (">", keyword and colon) of a notification kind; 0 for None.
qsizetype prefixLength(Notification kind);

// The line begins with "END", which closes a list or a history.
bool isEnd(QStringView line);
// The line begins with "ERROR:".
bool isError(QStringView line);
// The line begins with a decimal digit, as the time stamp of a history line does.
bool beginsWithTimestamp(QStringView line);

// The state word of a state line (">STATE:" notification or history line): its second
// comma-separated field without a line terminator; empty when the line has no second field.
QStringView stateWord(QStringView line);

// Whether an echo, log or state command is answered by history lines up to END ("state",
// "log on all", "state 5", ...) rather than by a single line (the "on" and "off" forms).
bool repliesWithHistory(QStringView command);

// Whether "kill" reaches a client by this common name. OpenVPN reads an argument with a colon
// as an address and port ("kill 198.51.100.7:1194"), quoted or not, and answers "error
// parsing IP address".
bool killableByName(QStringView commonName);

// OpenVPN 2.6 collects a command line in a buffer of 1024 bytes (its CR is not kept, its LF
// is): a line of up to 1023 bytes is taken whole. Of a longer one the first 1024 bytes are
// thrown away, the next byte is lost, and whatever follows becomes a command of its own. No
// longer line is ever sent; the margin allows for a daemon that counts the CR as well.
constexpr qsizetype maxLineBytes = 1000;
// OpenVPN's option lexer refuses an argument of more than 256 bytes (after unquoting).
constexpr qsizetype maxValueBytes = 256;

// The value with every CR, LF and NUL removed, so that it cannot end its command line early
// (OpenVPN drops a NUL, and a C string would end at it).
QString singleLine(const QString &value);

// The value as one argument for OpenVPN's option lexer: CR, LF and NUL removed, backslash and
// double quote escaped by a backslash, the whole enclosed in double quotes. Unquoted, the
// lexer would cut the value at a space and refuse a backslash.
QString quoted(const QString &value);

} // namespace ManagementProtocol
