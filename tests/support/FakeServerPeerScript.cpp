#include "support/FakeServerPeerScript.h"

#include "support/FakeServer.h"
#include "support/FrameBuilder.h"

#include <QtEndian>

namespace
{
quint32 U32At(QByteArray const& bytes, qsizetype& offset, bool& ok)
{
    if (offset + 4 > bytes.size()) {
        ok = false;
        return 0;
    }
    quint32 const l_value = qFromLittleEndian<quint32>(bytes.constData() + offset);
    offset += 4;
    return l_value;
}

QString TextAt(QByteArray const& bytes, qsizetype& offset, bool& ok)
{
    quint32 const l_length = U32At(bytes, offset, ok);
    if (!ok || offset + qsizetype(l_length) > bytes.size()) {
        ok = false;
        return {};
    }
    QString const l_text = QString::fromUtf8(bytes.constData() + offset, qsizetype(l_length));
    offset += qsizetype(l_length);
    return l_text;
}
} // namespace

QByteArray FakeServerPeerScript::UserAddress(QString const& user, quint16 port,
                                             quint16 obfuscatedPort, quint32 address)
{
    return FrameBuilder(3)
        .Str(user)
        .U32(address)
        .U32(port)
        .U32(obfuscatedPort ? 1 : 0)
        .U16(obfuscatedPort)
        .Frame();
}

QByteArray FakeServerPeerScript::PeerConnectionRequest(QString const& user, QString const& type,
                                                       quint16 port, quint32 token,
                                                       quint16 obfuscatedPort, quint32 address)
{
    FrameBuilder l_builder(18);
    l_builder.Str(user).Str(type).U32(address).U32(port).U32(token).U8(0);
    if (obfuscatedPort)
        l_builder.U32(1).U32(obfuscatedPort);
    else
        l_builder.U32(0);
    return l_builder.Frame();
}

QByteArray FakeServerPeerScript::CantConnect(quint32 token)
{
    return FrameBuilder(1001).U32(token).Frame();
}

void FakeServerPeerScript::AnswerAddress(QString const& user, quint16 port, quint16 obfuscatedPort)
{
    m_server.SetReply(3, UserAddress(user, port, obfuscatedPort));
}

void FakeServerPeerScript::RelayConnectionRequest(QString const& user, QString const& type,
                                                  quint16 port, quint32 token,
                                                  quint16 obfuscatedPort)
{
    m_server.Send(PeerConnectionRequest(user, type, port, token, obfuscatedPort));
}

void FakeServerPeerScript::ReportCantConnect(quint32 token)
{
    m_server.Send(CantConnect(token));
}

QList<FakeServerPeerScript::IndirectRequest> FakeServerPeerScript::IndirectRequests() const
{
    QList<IndirectRequest> l_requests;
    for (FakeServer::Frame const& l_frame : m_server.FramesWithCode(18)) {
        QByteArray const l_fields = l_frame.Fields();
        qsizetype l_offset = 0;
        bool l_ok = true;
        IndirectRequest l_request;
        l_request.token = U32At(l_fields, l_offset, l_ok);
        l_request.user = TextAt(l_fields, l_offset, l_ok);
        l_request.type = TextAt(l_fields, l_offset, l_ok);
        if (l_ok)
            l_requests.append(l_request);
    }
    return l_requests;
}

QStringList FakeServerPeerScript::AddressRequests() const
{
    QStringList l_users;
    for (FakeServer::Frame const& l_frame : m_server.FramesWithCode(3)) {
        QByteArray const l_fields = l_frame.Fields();
        qsizetype l_offset = 0;
        bool l_ok = true;
        QString const l_user = TextAt(l_fields, l_offset, l_ok);
        if (l_ok)
            l_users.append(l_user);
    }
    return l_users;
}

QList<QPair<quint32, QString>> FakeServerPeerScript::CantConnectReports() const
{
    QList<QPair<quint32, QString>> l_reports;
    for (FakeServer::Frame const& l_frame : m_server.FramesWithCode(1001)) {
        QByteArray const l_fields = l_frame.Fields();
        qsizetype l_offset = 0;
        bool l_ok = true;
        quint32 const l_token = U32At(l_fields, l_offset, l_ok);
        QString const l_user = TextAt(l_fields, l_offset, l_ok);
        if (l_ok)
            l_reports.append({l_token, l_user});
    }
    return l_reports;
}
