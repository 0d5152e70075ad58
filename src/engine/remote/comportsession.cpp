#include "engine/remote/comportsession.h"

#include "core/serial/linesettings.h"

#include <cstring>
#include <initializer_list>

namespace {

// Telnet's commands and the options used here.
constexpr quint8 se = 240, sb = 250, will = 251, wont = 252, doIt = 253, dont = 254, iac = 255;
constexpr quint8 binary = 0, suppressGoAhead = 3, comPort = 44;
// COM-PORT-OPTION commands; the server answers each with the command plus 100.
constexpr quint8 setBaudRate = 1, setDataSize = 2, setParity = 3, setStopSize = 4, setControl = 5,
                 purgeData = 12, serverOffset = 100;
constexpr quint8 dtrOn = 8, rtsOn = 11;

// The line's settings in the COM-PORT-OPTION's codes.
constexpr quint32 baudRate = quint32(line::baudRate);
constexpr quint8 dataSize = quint8(line::dataBits);
constexpr quint8 parityCode(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::NoParity:
        return 1;
    case QSerialPort::OddParity:
        return 2;
    case QSerialPort::EvenParity:
        return 3;
    case QSerialPort::MarkParity:
        return 4;
    case QSerialPort::SpaceParity:
        return 5;
    }
    return 0;
}
constexpr quint8 stopSizeCode(QSerialPort::StopBits stopBits)
{
    return stopBits == QSerialPort::OneStop ? 1 : stopBits == QSerialPort::TwoStop ? 2 : 3;
}
constexpr quint8 flowControlCode(QSerialPort::FlowControl flowControl)
{
    return flowControl == QSerialPort::NoFlowControl     ? 1
           : flowControl == QSerialPort::SoftwareControl ? 2
                                                         : 3;
}
constexpr quint8 parity = parityCode(line::parity), stopSize = stopSizeCode(line::stopBits),
                 flowControl = flowControlCode(line::flowControl);

QByteArray bytesOf(std::initializer_list<quint8> bytes)
{
    QByteArray out;
    for (const quint8 byte : bytes)
        out.append(char(byte));
    return out;
}

QByteArray command(quint8 verb, quint8 option)
{
    return bytesOf({iac, verb, option});
}

QByteArray subnegotiation(quint8 code, const QByteArray &value)
{
    QByteArray out = bytesOf({iac, sb, comPort, code});
    ComPortSession::escapeInto(out, value.constData(), value.size());
    return out + bytesOf({iac, se});
}

bool wanted(quint8 option)
{
    return option == binary || option == suppressGoAhead || option == comPort;
}

} // namespace

QByteArray ComPortSession::opening()
{
    m_local[binary] = m_remote[binary] = m_local[comPort] = State::Asked;
    return command(will, binary) + command(doIt, binary) + command(will, comPort);
}

void ComPortSession::escapeInto(QByteArray &out, const char *data, qint64 size)
{
    const char *end = data + size;
    for (const char *from = data; from < end;) {
        const char *ff = static_cast<const char *>(std::memchr(from, iac, size_t(end - from)));
        const char *upTo = ff ? ff + 1 : end;
        out.append(from, upTo - from);
        if (ff)
            out.append(char(iac));
        from = upTo;
    }
}

QByteArray ComPortSession::purgeInput()
{
    return subnegotiation(purgeData, QByteArray(1, char(1))); // the server's receive buffer
}

bool ComPortSession::ready() const
{
    return m_local[binary] == State::Yes && m_remote[binary] == State::Yes && m_comPortAnswered;
}

void ComPortSession::take(const char *bytes, qint64 size, QByteArray *data, QByteArray *reply)
{
    // A subnegotiation holds a few bytes of a setting; one that never ends would hold every
    // later byte of the connection.
    constexpr qsizetype longestSub = 512;
    const auto appendSub = [this](quint8 byte) {
        if (m_sub.size() < longestSub)
            m_sub.append(char(byte));
        else if (m_problem.isEmpty())
            m_problem = QStringLiteral("the server's subnegotiation runs past %1 bytes without "
                                       "an end")
                            .arg(longestSub);
    };
    for (qint64 i = 0; i < size && m_problem.isEmpty(); ++i) {
        const quint8 byte = quint8(bytes[i]);
        switch (m_parse) {
        case Parse::Data:
            if (byte == iac)
                m_parse = Parse::Iac;
            else
                data->append(char(byte));
            break;
        case Parse::Iac:
            if (byte == iac) { // an escaped 0xFF of the device's
                data->append(char(byte));
                m_parse = Parse::Data;
            } else if (byte >= will) {
                m_verb = byte;
                m_parse = Parse::Verb;
            } else if (byte == sb) {
                m_sub.clear();
                m_parse = Parse::Sub;
            } else { // NOP, data mark, go-ahead and the like: nothing for the device
                m_parse = Parse::Data;
            }
            break;
        case Parse::Verb:
            if (countChange(byte))
                onVerb(m_verb, byte, reply);
            m_parse = Parse::Data;
            break;
        case Parse::Sub:
            if (byte == iac)
                m_parse = Parse::SubIac;
            else
                appendSub(byte);
            break;
        case Parse::SubIac:
            if (byte == se) {
                onSubnegotiation();
                m_parse = Parse::Data;
            } else { // IAC IAC inside: a 0xFF of the value
                appendSub(byte);
                m_parse = Parse::Sub;
            }
            break;
        }
    }
}

bool ComPortSession::countChange(quint8 option)
{
    // Two agreeing sides settle an option in a request and an answer; a server that keeps
    // turning one on and off, never reading, would pile the answers up unsent.
    constexpr quint8 mostChanges = 16;
    if (m_changes[option] < mostChanges) {
        ++m_changes[option];
        return true;
    }
    if (m_problem.isEmpty())
        m_problem = QStringLiteral("the server keeps changing telnet option %1").arg(option);
    return false;
}

void ComPortSession::onVerb(quint8 verb, quint8 option, QByteArray *reply)
{
    // Each side answers only a change, and an answer to its own request is no new request:
    // so two agreeing sides never loop (RFC 1143's rule, in short).
    switch (verb) {
    case doIt:
        if (wanted(option)) {
            if (m_local[option] == State::Unsaid || m_local[option] == State::No)
                *reply += command(will, option);
            m_local[option] = State::Yes;
        } else if (m_local[option] != State::No) {
            m_local[option] = State::No;
            *reply += command(wont, option);
        }
        if (option == comPort && !m_comPortAnswered) {
            m_comPortAnswered = true;
            *reply +=
                subnegotiation(setBaudRate, bytesOf({quint8(baudRate >> 24), quint8(baudRate >> 16),
                                                     quint8(baudRate >> 8), quint8(baudRate)}));
            *reply += subnegotiation(setDataSize, QByteArray(1, char(dataSize)));
            *reply += subnegotiation(setParity, QByteArray(1, char(parity)));
            *reply += subnegotiation(setStopSize, QByteArray(1, char(stopSize)));
            *reply += subnegotiation(setControl, QByteArray(1, char(flowControl)));
            // As a local port raises them on opening; a line without modem lines (a
            // pseudo-terminal behind the server) may leave these unanswered.
            *reply += subnegotiation(setControl, QByteArray(1, char(dtrOn)));
            *reply += subnegotiation(setControl, QByteArray(1, char(rtsOn)));
        }
        return;
    case dont:
        if (m_local[option] == State::Yes)
            *reply += command(wont, option);
        m_local[option] = State::No;
        if (option == binary)
            m_problem = QStringLiteral("the server refuses binary transmission");
        // Without the option the server keeps the line as it set it: usable, unchecked.
        if (option == comPort)
            m_comPortAnswered = true;
        return;
    case will:
        // The server's side of binary and suppress-go-ahead; a server does not do the
        // COM-PORT-OPTION's client part.
        if (option == binary || option == suppressGoAhead) {
            if (m_remote[option] == State::Unsaid || m_remote[option] == State::No)
                *reply += command(doIt, option);
            m_remote[option] = State::Yes;
        } else if (m_remote[option] != State::No) {
            m_remote[option] = State::No;
            *reply += command(dont, option);
        }
        return;
    case wont:
        if (m_remote[option] == State::Yes)
            *reply += command(dont, option);
        m_remote[option] = State::No;
        if (option == binary)
            m_problem = QStringLiteral("the server refuses binary transmission");
        return;
    default:
        return;
    }
}

void ComPortSession::onSubnegotiation()
{
    if (m_sub.size() < 3 || quint8(m_sub.at(0)) != comPort)
        return;
    const quint8 code = quint8(m_sub.at(1)) - serverOffset;
    const QByteArray value = m_sub.mid(2);
    auto mismatch = [&](const QString &what) {
        if (m_problem.isEmpty())
            m_problem = QStringLiteral("the server set the line to %1, not %2")
                            .arg(what, line::described());
    };
    // A one-byte answer: 0 says nothing, anything but `wanted` is a line not as asked.
    const quint8 first = quint8(value.at(0));
    auto expect = [&](quint8 wanted, const QString &what) {
        if (first != 0 && first != wanted)
            mismatch(what.arg(first));
    };
    switch (code) {
    case setBaudRate:
        if (value.size() == 4) {
            const quint32 rate = quint32(quint8(value.at(0))) << 24 |
                                 quint32(quint8(value.at(1))) << 16 |
                                 quint32(quint8(value.at(2))) << 8 | quint8(value.at(3));
            if (rate != 0 && rate != baudRate)
                mismatch(QStringLiteral("%1 baud").arg(rate));
        }
        return;
    case setDataSize:
        return expect(dataSize, QStringLiteral("%1 data bits"));
    case setParity:
        return expect(parity, QStringLiteral("parity %1"));
    case setStopSize:
        return expect(stopSize, QStringLiteral("stop size %1"));
    case setControl:
        // Only the answer about flow control (1 to 3) can say the line is not as asked.
        if (first <= 3)
            expect(flowControl, QStringLiteral("flow control %1"));
        return;
    default: // line and modem state notices, and the rest: nothing to check
        return;
    }
}
