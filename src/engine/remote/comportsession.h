#pragma once

#include <QByteArray>
#include <QString>

#include <array>

// The client's side of a telnet connection that carries a serial port (the COM-PORT-OPTION):
// what to send to set the line to 115200 8N1 without flow control, the escaping of 0xFF both
// ways, and the server's commands taken out of the device's bytes. No socket: bytes in, bytes
// out.
class ComPortSession
{
public:
    // What the client says first: binary both ways and the COM-PORT-OPTION.
    QByteArray opening();
    // The device's bytes as they go on the wire: every 0xFF doubled.
    static void escapeInto(QByteArray &out, const char *data, qint64 size);
    // Asks the server to drop what it holds from the device, as a local port's input is
    // cleared.
    static QByteArray purgeInput();

    // Takes the server's bytes: the device's go to `data`, what the client must answer to
    // `reply`. A server's answer that the line is not as asked is kept in problem().
    void take(const char *bytes, qint64 size, QByteArray *data, QByteArray *reply);
    // Binary both ways, and the COM-PORT-OPTION agreed or refused: the device may be spoken to.
    bool ready() const;
    // Why the line cannot be used as asked; empty while it can.
    QString problem() const { return m_problem; }

private:
    enum class State : quint8 { Unsaid, Asked, Yes, No };
    enum class Parse { Data, Iac, Verb, Sub, SubIac };

    void onVerb(quint8 verb, quint8 option, QByteArray *reply);
    // Counts a change of `option` by the server; false (and a problem) once it has changed
    // more often than an agreement ever takes.
    bool countChange(quint8 option);
    void onSubnegotiation();

    Parse m_parse = Parse::Data;
    quint8 m_verb = 0;
    QByteArray m_sub;
    std::array<quint8, 256> m_changes{}; // the server's changes of each option, answered
    // What the client has said of each option it does (WILL/WONT) and asks of the server
    // (DO/DONT), and what the server has agreed to.
    std::array<State, 256> m_local{}, m_remote{};
    bool m_comPortAnswered = false;
    QString m_problem;
};
