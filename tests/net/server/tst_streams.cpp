// Wire streams. Byte-exact encodings, the read limits at their exact
// boundaries, the container rules, buffer growth and sharing, UserStats, the
// assertions and the obfuscation transform that sits with MemStream.

#include "net/server/MemStream.h"
#include "net/server/Stream.h"
#include "net/server/UserStats.h"
#include "net/server/rcptr.h"
#include "store/DataSaver.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/Settings.h"

#include <QByteArray>
#include <QString>
#include <QtTest>

#include <csignal>
#include <list>
#include <map>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Bytes written by hand (independently of OutputStream) so that an encoding
// mistake cannot pass on both sides.
QByteArray U32(std::uint32_t v)
{
  QByteArray b;
  for (int i = 0; i < 4; ++i) b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
  return b;
}

QByteArray U64(std::uint64_t v)
{
  QByteArray b;
  for (int i = 0; i < 8; ++i) b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
  return b;
}

QByteArray Str(QByteArray const& s)
{
  return U32(static_cast<std::uint32_t>(s.size())) + s;
}

MemStream StreamOf(QByteArray const& bytes)
{
  MemStream m;
  m.WriteBuffer(bytes.constData(), static_cast<unsigned long>(bytes.size()));
  return m;
}

QByteArray Contents(MemStream const& m)
{
  return QByteArray(m.GetBuffer(), static_cast<qsizetype>(m.GetBufferLength()));
}

// An OutputStream that accepts a fixed number of WriteBuffer calls and refuses the
// rest, counting all calls.
class LimitedOutput : public OutputStream
{
public:
  explicit LimitedOutput(int accepted) : m_accepted(accepted) {}
  bool WriteBuffer(void const* source, unsigned long length) override
  {
    ++m_calls;
    if (m_calls > m_accepted) return false;
    m_bytes.append(static_cast<char const*>(source), static_cast<qsizetype>(length));
    return true;
  }
  int m_accepted;
  int m_calls = 0;
  QByteArray m_bytes;
};

// Runs f in a child process; returns its stderr and whether it died of SIGABRT.
template <class F>
std::pair<QByteArray, bool> RunAborting(F f)
{
  int fds[2];
  if (pipe(fds) != 0) return {{}, false};
  pid_t const pid = fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::dup2(fds[1], 2);
    std::signal(SIGABRT, SIG_DFL);
    f();
    ::_exit(0);
  }
  ::close(fds[1]);
  QByteArray out;
  char buf[512];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {out, WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT};
}

}  // namespace

class TestStreams : public QObject
{
  Q_OBJECT

private slots:
  // --- MemStream buffer ---------------------------------------------------------
  void newStreamIsEmpty()
  {
    MemStream m;
    QCOMPARE(m.GetBufferLength(), 0u);
    QCOMPARE(m.GetWriteIndex(), 0u);
    QCOMPARE(m.GetReadIndex(), 0u);
    QCOMPARE(m.GetPendingReadLength(), 0u);
    QCOMPARE(m.GetBufferCapacity(), 256u);
    QVERIFY(m.GetReadBuffer() == m.GetBuffer());
    QVERIFY(m.GetWriteBuffer() == m.GetBuffer());
  }

  void growthAtExactBoundary()
  {
    QByteArray const bytes(256, 'x');
    MemStream a;
    a.WriteBuffer(bytes.constData(), 255);
    QCOMPARE(a.GetBufferCapacity(), 256u);
    MemStream b;
    b.WriteBuffer(bytes.constData(), 256);  // would exactly fill: grows
    QCOMPARE(b.GetBufferCapacity(), 512u);
    QCOMPARE(Contents(b), bytes);
    // 255 then 1: the second write exactly fills, grows
    a.WriteBuffer("y", 1);
    QCOMPARE(a.GetBufferCapacity(), 512u);
    QCOMPARE(Contents(a), QByteArray(255, 'x') + "y");
    // doubling again and again until it exceeds the write index
    MemStream c;
    QByteArray const big(3000, 'z');
    c.WriteBuffer(big.constData(), 3000);
    QCOMPARE(c.GetBufferCapacity(), 4096u);
    QByteArray const more(1096, 'q');
    c.WriteBuffer(more.constData(), 1096);  // 4096 exactly -> 8192
    QCOMPARE(c.GetBufferCapacity(), 8192u);
    QCOMPARE(Contents(c), big + more);
    QVERIFY(c.GetBufferCapacity() > c.GetWriteIndex());
  }

  void growthKeepsReadBytesAndIndexes()
  {
    MemStream m;
    QByteArray const first(200, 'a');
    m.WriteBuffer(first.constData(), 200);
    char sink[150];
    QVERIFY(m.ReadBuffer(sink, 150));
    QByteArray const second(100, 'b');
    m.WriteBuffer(second.constData(), 100);
    QCOMPARE(m.GetBufferCapacity(), 512u);
    QCOMPARE(m.GetReadIndex(), 150u);
    QCOMPARE(m.GetPendingReadLength(), 150u);
    QCOMPARE(Contents(m), first + second);  // read bytes kept, never compacted
    QCOMPARE(QByteArray(m.GetReadBuffer(), 150), QByteArray(50, 'a') + second);
  }

  void shortReadConsumesNothing()
  {
    MemStream m = StreamOf("abc");
    char buf[4] = {};
    QVERIFY(!m.ReadBuffer(buf, 4));
    QCOMPARE(m.GetPendingReadLength(), 3u);
    QVERIFY(m.ReadBuffer(buf, 3));
    QCOMPARE(QByteArray(buf, 3), QByteArray("abc"));
    QCOMPARE(m.GetPendingReadLength(), 0u);
    QVERIFY(!m.ReadBuffer(buf, 1));
    QVERIFY(m.ReadBuffer(buf, 0));
  }

  void resetKeepsCapacity()
  {
    MemStream m;
    QByteArray const bytes(1000, 'x');
    m.WriteBuffer(bytes.constData(), 1000);
    char sink[10];
    m.ReadBuffer(sink, 10);
    char* const array = m.GetBuffer();
    m.Reset();
    QCOMPARE(m.GetReadIndex(), 0u);
    QCOMPARE(m.GetWriteIndex(), 0u);
    QCOMPARE(m.GetBufferCapacity(), 1024u);
    QVERIFY(m.GetBuffer() == array);
  }

  void ensureCapacityAndAdvance()
  {
    MemStream m;
    m.EnsureBufferCapacity(100);  // not below: unchanged
    QCOMPARE(m.GetBufferCapacity(), 256u);
    m.EnsureBufferCapacity(1000);  // exactly n
    QCOMPARE(m.GetBufferCapacity(), 1000u);
    std::memcpy(m.GetWriteBuffer(), "hello", 5);
    m.AdvanceWriteIndex(5);
    QCOMPARE(m.GetWriteIndex(), 5u);
    QCOMPARE(m.GetBufferLength(), 5u);
    QCOMPARE(QByteArray(m.GetReadBuffer(), 5), QByteArray("hello"));
    m.AdvanceWriteIndex(995);  // fills exactly: allowed
    QCOMPARE(m.GetWriteIndex(), 1000u);
  }

  void advanceBeyondCapacityAsserts()
  {
    auto const [err, aborted] = RunAborting([] {
      MemStream m;
      m.AdvanceWriteIndex(257);
    });
    QVERIFY(aborted);
    QVERIFY2(err.contains("mp_buffer->m_writeIndex <= mp_buffer->m_bufferSize"), err.constData());
    QVERIFY2(err.contains("MemStream::AdvanceWriteIndex(int)"), err.constData());
    QVERIFY2(err.contains("MemStream.cpp"), err.constData());
  }

  void copiesShareOneBuffer()
  {
    MemStream a;
    a.Write(1u);
    a.Write(2u);
    MemStream b = a;
    std::uint32_t v = 0;
    QVERIFY(b.Read(v));
    QCOMPARE(v, 1u);
    QCOMPARE(a.GetReadIndex(), 4u);  // a read through one advances the other
    QVERIFY(a.Read(v));
    QCOMPARE(v, 2u);
    QCOMPARE(b.GetPendingReadLength(), 0u);
    b.Write(3u);  // a write through one is seen by the other
    QCOMPARE(a.GetPendingReadLength(), 4u);
    QVERIFY(a.Read(v));
    QCOMPARE(v, 3u);
    MemStream c;
    c = b;
    QVERIFY(c.GetBuffer() == a.GetBuffer());
    {
      MemStream d(a);
      d.Reset();
    }
    QCOMPARE(c.GetWriteIndex(), 0u);  // the buffer lives on after a copy goes
    c.Write(7u);
    QCOMPARE(a.GetWriteIndex(), 4u);
  }

  void copyOfMessageByValue()
  {
    MemStream m = StreamOf(U32(42));
    auto consume = [](MemStream s) {
      std::uint32_t v = 0;
      return s.Read(v) ? v : 0u;
    };
    QCOMPARE(consume(m), 42u);
    QCOMPARE(m.GetPendingReadLength(), 0u);
  }

  // --- rcptr --------------------------------------------------------------------
  void rcptrCounts()
  {
    static int deleted = 0;
    struct Counted
    {
      ~Counted() { ++deleted; }
      int value = 5;
    };
    deleted = 0;
    {
      rcptr<Counted> a(new Counted);
      QCOMPARE(a.use_count(), 1);
      {
        rcptr<Counted> b(a);
        QCOMPARE(a.use_count(), 2);
        rcptr<Counted> c(new Counted);
        c = b;  // the overwritten side drops its object
        QCOMPARE(deleted, 1);
        QCOMPARE(a.use_count(), 3);
        c = c;  // self-assignment keeps everything
        QCOMPARE(a.use_count(), 3);
        QCOMPARE(c->value, 5);
      }
      QCOMPARE(a.use_count(), 1);
      QCOMPARE(deleted, 1);
    }
    QCOMPARE(deleted, 2);
  }

  void rcptrNullAsserts()
  {
    auto const [err, aborted] = RunAborting([] {
      rcptr<int> p;
      volatile int* q = p.operator->();
      Q_UNUSED(q);
    });
    QVERIFY(aborted);
    QVERIFY2(err.contains("mp_object != 0"), err.constData());
    QVERIFY2(err.contains("rcptr.h"), err.constData());
  }

  // --- integers -------------------------------------------------------------------
  void integerEncodings()
  {
    MemStream m;
    QVERIFY(m.Write(true));
    QVERIFY(m.Write(false));
    QVERIFY(m.Write(static_cast<unsigned char>(0xAB)));
    QVERIFY(m.Write(static_cast<unsigned short>(0x1234)));
    QVERIFY(m.Write(static_cast<short>(-2)));
    QVERIFY(m.Write(-2));
    QVERIFY(m.Write(0xDEADBEEFu));
    QVERIFY(m.Write(static_cast<std::uint64_t>(0x0102030405060708ull)));
    QVERIFY(m.Write(static_cast<long long>(-3)));
    QVERIFY(m.Write(static_cast<unsigned long long>(9)));
    QVERIFY(m.Write(static_cast<qint64>(-1)));
    QByteArray const expected = QByteArray::fromHex(
        "01" "00" "ab" "3412" "feff" "feffffff" "efbeadde" "0807060504030201"
        "fdffffffffffffff" "0900000000000000" "ffffffffffffffff");
    QCOMPARE(Contents(m), expected);

    bool b1 = false, b2 = true;
    unsigned char uc = 0;
    unsigned short us = 0;
    short ss = 0;
    int i = 0;
    unsigned int ui = 0;
    std::uint64_t u64 = 0;
    long long ll = 0;
    unsigned long long ull = 0;
    qint64 q64 = 0;
    QVERIFY(m.Read(b1) && m.Read(b2) && m.Read(uc) && m.Read(us) && m.Read(ss) && m.Read(i) &&
            m.Read(ui) && m.Read(u64) && m.Read(ll) && m.Read(ull) && m.Read(q64));
    QVERIFY(b1);
    QVERIFY(!b2);
    QCOMPARE(uc, 0xAB);
    QCOMPARE(us, 0x1234);
    QCOMPARE(ss, -2);
    QCOMPARE(i, -2);
    QCOMPARE(ui, 0xDEADBEEFu);
    QCOMPARE(u64, 0x0102030405060708ull);
    QCOMPARE(ll, -3);
    QCOMPARE(ull, 9ull);
    QCOMPARE(q64, -1);
    QCOMPARE(m.GetPendingReadLength(), 0u);
  }

  void boolReadsAnyNonZeroAsTrue()
  {
    MemStream m = StreamOf(QByteArray::fromHex("0002ff"));
    bool a = true, b = false, c = false;
    QVERIFY(m.Read(a) && m.Read(b) && m.Read(c));
    QVERIFY(!a);
    QVERIFY(b);
    QVERIFY(c);
  }

  void shortIntegerReadsFailAndKeepBytes()
  {
    MemStream m = StreamOf(QByteArray::fromHex("010203"));
    unsigned int v = 77;
    QVERIFY(!m.Read(v));
    QCOMPARE(v, 77u);
    QCOMPARE(m.GetPendingReadLength(), 3u);
    std::uint64_t w = 0;
    QVERIFY(!m.Read(w));
    unsigned short s = 0;
    QVERIFY(m.Read(s));
    QCOMPARE(s, 0x0201);
  }

  // --- strings --------------------------------------------------------------------
  void stringEncoding()
  {
    MemStream m;
    QVERIFY(m.Write(std::string("alice")));
    QVERIFY(m.Write(std::string()));
    QVERIFY(m.Write("pw"));  // a literal is a string, not a bool
    QCOMPARE(Contents(m), Str("alice") + Str("") + Str("pw"));
    std::string a, b, c;
    QVERIFY(m.Read(a) && m.Read(b) && m.Read(c));
    QCOMPARE(a, std::string("alice"));
    QCOMPARE(b, std::string());
    QCOMPARE(c, std::string("pw"));
  }

  void stringAtLimitIsAccepted()
  {
    QByteArray const body(131072, 'k');
    MemStream m = StreamOf(U32(131072) + body + "tail");
    std::string s;
    QVERIFY(m.Read(s));
    QCOMPARE(s.size(), std::size_t(131072));
    QCOMPARE(m.GetPendingReadLength(), 4u);
  }

  void stringAboveLimitConsumesOnlyCount()
  {
    QByteArray const body(131073, 'k');
    MemStream m = StreamOf(U32(131073) + body);
    std::string s = "unchanged";
    QVERIFY(!m.Read(s));
    QCOMPARE(m.GetReadIndex(), 4u);
    QCOMPARE(m.GetPendingReadLength(), 131073u);
    QCOMPARE(s, std::string("unchanged"));
  }

  void stringCountComparedUnsigned()
  {
    MemStream m = StreamOf(U32(0xFFFFFFFFu) + "abcd");
    std::string s;
    QVERIFY(!m.Read(s));
    QCOMPARE(m.GetReadIndex(), 4u);
    MemStream n = StreamOf(U32(0x80000000u) + "abcd");
    QVERIFY(!n.Read(s));
    QCOMPARE(n.GetReadIndex(), 4u);
  }

  void stringShortBodyConsumesCountOnly()
  {
    MemStream m = StreamOf(U32(10) + "abcdefghi");  // one byte short
    std::string s;
    QVERIFY(!m.Read(s));
    QCOMPARE(m.GetReadIndex(), 4u);
    QCOMPARE(m.GetPendingReadLength(), 9u);
    MemStream n = StreamOf(QByteArray::fromHex("050000"));  // count itself short
    QVERIFY(!n.Read(s));
    QCOMPARE(n.GetReadIndex(), 0u);
  }

  void stringCutAtNulButBodyConsumed()
  {
    MemStream m = StreamOf(Str(QByteArray("ab\0cd", 5)) + U32(7));
    std::string s;
    QVERIFY(m.Read(s));
    QCOMPARE(s, std::string("ab"));
    QCOMPARE(m.GetReadIndex(), 9u);
    unsigned int v = 0;
    QVERIFY(m.Read(v));
    QCOMPARE(v, 7u);
    MemStream n = StreamOf(Str(QByteArray("\0xyz", 4)));
    QVERIFY(n.Read(s));
    QCOMPARE(s, std::string());
    QCOMPARE(n.GetPendingReadLength(), 0u);
  }

  // --- QString --------------------------------------------------------------------
  void qstringWrittenAsUtf8()
  {
    MemStream m;
    QVERIFY(m.Write(QString::fromUtf8("h\xC3\xA9llo \xE2\x82\xAC")));
    QCOMPARE(Contents(m), Str("h\xC3\xA9llo \xE2\x82\xAC"));
    QString s;
    QVERIFY(m.Read(s));
    QCOMPARE(s, QString::fromUtf8("h\xC3\xA9llo \xE2\x82\xAC"));
  }

  void qstringWithNulWrittenUpToIt()
  {
    QString const text = QStringLiteral("ab") + QChar(0) + QStringLiteral("cd");
    MemStream m;
    QVERIFY(m.Write(text));
    QCOMPARE(Contents(m), Str("ab"));
    MemStream n;
    QVERIFY(n.Write(QString(QChar(0))));
    QCOMPARE(Contents(n), U32(0));
  }

  void qstringInvalidUtf8GoesThroughToQString()
  {
    MemStream m = StreamOf(Str("\xE9"));
    QString s;
    QVERIFY(m.Read(s));
    QCOMPARE(s.size(), 1);
    QCOMPARE(s.at(0).unicode(), char16_t(0x00E9));
    MemStream n = StreamOf(Str("caf\xE9 ok"));
    QVERIFY(n.Read(s));
    QCOMPARE(s, QString::fromUtf8("caf\xC3\xA9 ok"));
    // Valid UTF-8 behind a byte-order mark is UTF-8, the mark kept.
    MemStream o = StreamOf(Str("\xEF\xBB\xBFhello"));
    QVERIFY(o.Read(s));
    QCOMPARE(s, QChar(0xFEFF) + QStringLiteral("hello"));
  }

  void qstringUsesConfiguredCodePage()
  {
    DataSaver saver;  // the settings types are declared with their saver
    DeclareSettingsTypes();
    {
      ExtendedAsciiTranslator translator;
      translator.SetCodePage("windows-1251");
      MemStream m = StreamOf(Str("\xE9") + Str("\xC3\xA9"));
      QString s;
      QVERIFY(m.Read(s));
      QCOMPARE(s, QString(QChar(0x0439)));  // not UTF-8: the code page's reading
      QVERIFY(m.Read(s));
      QCOMPARE(s, QString(QChar(0x00E9)));  // valid UTF-8 stays UTF-8
      translator.SetCodePage("");
    }
    MemStream n = StreamOf(Str("\xE9"));
    QString t;
    QVERIFY(n.Read(t));
    QCOMPARE(t, QString(QChar(0x00E9)));  // back to Latin-1
  }

  void qstringLimitsAndNul()
  {
    MemStream m = StreamOf(U32(131073) + QByteArray(131073, 'a'));
    QString s = QStringLiteral("keep");
    QVERIFY(!m.Read(s));
    QCOMPARE(m.GetReadIndex(), 4u);
    QCOMPARE(s, QStringLiteral("keep"));
    MemStream n = StreamOf(U32(131072) + QByteArray(131072, 'a'));
    QVERIFY(n.Read(s));
    QCOMPARE(s.size(), 131072);
    MemStream o = StreamOf(Str(QByteArray("x\0\xE9", 3)));
    QVERIFY(o.Read(s));
    QCOMPARE(s, QStringLiteral("x"));
    QCOMPARE(o.GetPendingReadLength(), 0u);
  }

  // --- containers -----------------------------------------------------------------
  void containerEncodings()
  {
    MemStream m;
    std::list<unsigned int> const l{3, 1, 2};
    std::set<std::string> const s{"b", "a"};
    std::map<std::string, unsigned int> const mp{{"y", 2}, {"x", 1}};
    std::pair<std::string, unsigned int> const p{"k", 9};
    QVERIFY(m.Write(l));
    QVERIFY(m.Write(s));
    QVERIFY(m.Write(mp));
    QVERIFY(m.Write(p));
    QByteArray const expected = U32(3) + U32(3) + U32(1) + U32(2) + U32(2) + Str("a") + Str("b") +
                                U32(2) + Str("x") + U32(1) + Str("y") + U32(2) + Str("k") + U32(9);
    QCOMPARE(Contents(m), expected);
    std::list<unsigned int> l2{99};
    std::set<std::string> s2;
    std::map<std::string, unsigned int> m2;
    std::pair<std::string, unsigned int> p2;
    QVERIFY(m.Read(l2) && m.Read(s2) && m.Read(m2) && m.Read(p2));
    QCOMPARE(l2, l);
    QCOMPARE(s2, s);
    QCOMPARE(m2, mp);
    QCOMPARE(p2, p);
  }

  void containerCountAtLimit()
  {
    MemStream m = StreamOf(U32(131072) + QByteArray(131072, '\x05'));
    std::list<unsigned char> l;
    QVERIFY(m.Read(l));
    QCOMPARE(l.size(), std::size_t(131072));
    QCOMPARE(m.GetPendingReadLength(), 0u);
    MemStream n = StreamOf(U32(131072) + QByteArray(131072 * 4, '\x01'));
    std::set<unsigned int> s;
    QVERIFY(n.Read(s));
    QCOMPARE(s.size(), std::size_t(1));  // equal elements are dropped
  }

  void containerCountAboveLimit()
  {
    MemStream m = StreamOf(U32(131073) + QByteArray(131073, '\x05'));
    std::list<unsigned char> l{1, 2, 3};
    QVERIFY(!m.Read(l));
    QVERIFY(l.empty());
    QCOMPARE(m.GetReadIndex(), 4u);
    MemStream n = StreamOf(U32(131073));
    std::map<unsigned int, std::string> mp{{1, "a"}};
    QVERIFY(!n.Read(mp));
    QVERIFY(mp.empty());
    MemStream o = StreamOf(U32(0x7FFFFFFF));
    std::set<int> s{4};
    QVERIFY(!o.Read(s));
    QVERIFY(s.empty());
  }

  void containerCountZero()
  {
    MemStream m = StreamOf(U32(0) + U32(0) + U32(0));
    std::list<std::string> l{"old"};
    std::set<unsigned int> s{1};
    std::map<std::string, std::string> mp{{"a", "b"}};
    QVERIFY(m.Read(l) && m.Read(s) && m.Read(mp));
    QVERIFY(l.empty() && s.empty() && mp.empty());
  }

  void containerCountFailedRead()
  {
    MemStream m = StreamOf(QByteArray::fromHex("0100"));
    std::list<unsigned int> l{1};
    QVERIFY(!m.Read(l));
    QVERIFY(l.empty());
    QCOMPARE(m.GetPendingReadLength(), 2u);
  }

  void negativeCountFailsLikeOverBound()
  {
    // Top bit set: negative as a signed 32-bit number, but no smaller than any count
    // over the bound. The read fails at the count, with no element read.
    MemStream m = StreamOf(U32(0x80000000u) + U32(10) + U32(20) + QByteArray::fromHex("01"));
    std::list<unsigned int> l{7};
    QVERIFY(!m.Read(l));
    QVERIFY(l.empty());
    QCOMPARE(m.GetReadIndex(), 4u);
    MemStream n = StreamOf(U32(0xFFFFFFFFu) + Str("a") + Str("b"));
    std::set<std::string> s;
    QVERIFY(!n.Read(s));
    QVERIFY(s.empty());
    MemStream o = StreamOf(U32(0xFFFFFFFFu) + Str("k") + Str("v"));
    std::map<std::string, std::string> mp{{"x", "y"}};
    QVERIFY(!o.Read(mp));
    QVERIFY(mp.empty());
    MemStream p = StreamOf(U32(0x80000000u));
    std::uint32_t count = 0;
    QVERIFY(!p.ReadCount(count));
  }

  void listWithShortThirdElement()
  {
    MemStream m = StreamOf(U32(3) + Str("one") + Str("two") + U32(5) + "thr");
    std::list<std::string> l;
    QVERIFY(!m.Read(l));
    QCOMPARE(l, (std::list<std::string>{"one", "two"}));
  }

  void mapRepeatedKeyKeepsLast()
  {
    MemStream m = StreamOf(U32(3) + Str("k") + U32(1) + Str("j") + U32(5) + Str("k") + U32(2));
    std::map<std::string, unsigned int> mp;
    QVERIFY(m.Read(mp));
    QCOMPARE(mp.size(), std::size_t(2));
    QCOMPARE(mp["k"], 2u);
    QCOMPARE(mp["j"], 5u);
  }

  void mapShortValueKeepsEarlierEntries()
  {
    MemStream m = StreamOf(U32(2) + Str("a") + U32(1) + Str("b") + QByteArray::fromHex("02"));
    std::map<std::string, unsigned int> mp;
    QVERIFY(!m.Read(mp));
    QCOMPARE(mp.size(), std::size_t(1));
    QCOMPARE(mp["a"], 1u);
  }

  void setDuplicatesDropped()
  {
    MemStream m = StreamOf(U32(3) + U32(7) + U32(7) + U32(1));
    std::set<unsigned int> s;
    QVERIFY(m.Read(s));
    QCOMPARE(s, (std::set<unsigned int>{1, 7}));
  }

  void pairReadsSecondOnlyAfterFirst()
  {
    MemStream m = StreamOf(U32(131073) + U32(1));
    std::pair<std::string, unsigned int> p{"x", 3};
    QVERIFY(!m.Read(p));
    QCOMPARE(p.second, 3u);
    QCOMPARE(m.GetPendingReadLength(), 4u);  // only the refused count consumed
  }

  void nestedContainersAndRecords()
  {
    std::map<QString, std::list<std::pair<std::string, UserStats>>> value;
    value[QStringLiteral("r\xC3\xA9")] = {{"u1", UserStats(1, 2, 3, 4)}, {"u2", UserStats(5, 6, 7, 8)}};
    value[QStringLiteral("empty")] = {};
    MemStream m;
    QVERIFY(m.Write(value));
    std::map<QString, std::list<std::pair<std::string, UserStats>>> back;
    QVERIFY(m.Read(back));
    QCOMPARE(back.size(), std::size_t(2));
    QVERIFY(back == value);
    QCOMPARE(m.GetPendingReadLength(), 0u);
  }

  // --- UserStats ------------------------------------------------------------------
  void userStatsWire()
  {
    UserStats const u(0x11223344u, 0x0102030405060708ull, 0xAABBCCDDu, 7u);
    MemStream m;
    QVERIFY(u.Write(m));
    QCOMPARE(m.GetBufferLength(), 20u);
    QCOMPARE(Contents(m), U32(0x11223344u) + U64(0x0102030405060708ull) + U32(0xAABBCCDDu) + U32(7));
    UserStats r;
    QVERIFY(m.Read(r));  // through the Persistent overload
    QVERIFY(r == u);
    MemStream n;
    QVERIFY(n.Write(u));  // through the Persistent overload
    QCOMPARE(Contents(n), Contents(m));
  }

  void userStatsShortRead()
  {
    MemStream m = StreamOf(U32(9) + U64(8) + U32(7) + QByteArray::fromHex("0102"));
    UserStats r(1, 1, 1, 1);
    QVERIFY(!r.Read(m));
    QCOMPARE(r.m_speed, 9u);
    QCOMPARE(r.m_counter, 8ull);
    QCOMPARE(r.m_fileCount, 7u);
    QCOMPARE(r.m_folderCount, 1u);  // not read
    QCOMPARE(m.GetPendingReadLength(), 2u);
    MemStream n = StreamOf(U32(9) + QByteArray::fromHex("01"));
    UserStats s(1, 1, 1, 1);
    QVERIFY(!s.Read(n));
    QCOMPARE(s.m_speed, 9u);
    QCOMPARE(s.m_counter, 1ull);
  }

  void userStatsStopsAtFirstFailedWrite()
  {
    UserStats const u(1, 2, 3, 4);
    LimitedOutput out(2);
    QVERIFY(!u.Write(out));
    QCOMPARE(out.m_calls, 3);  // the third write failed, the fourth was not tried
    QCOMPARE(out.m_bytes, U32(1) + U64(2));
    LimitedOutput all(100);
    QVERIFY(u.Write(all));
    QCOMPARE(all.m_calls, 4);
  }

  void writesStopAtFirstFailure()
  {
    LimitedOutput out(0);
    QVERIFY(!out.Write(std::string("abc")));
    QCOMPARE(out.m_calls, 1);  // body not tried after the failed count
    LimitedOutput l(2);
    QVERIFY(!l.Write(std::list<unsigned int>{1, 2, 3}));
    QCOMPARE(l.m_calls, 3);
  }

  // --- obfuscation transform (key schedule) ----------------------------
  void obfuscation()
  {
    QCOMPARE(BitRotateLeft(0x80000001u), 0x00000003u);
    QCOMPARE(BitRotateLeft(0x12345678u, 4), 0x23456781u);
    QCOMPARE(BitRotateLeft(5u, 0), 5u);
    std::uint32_t const key = 0x80000001u;
    QByteArray const plain = QByteArray::fromHex("00000000" "00000000" "0000");
    QByteArray masked(plain.size(), '\0');
    Obfuscate(key, plain.constData(), masked.data(), static_cast<std::uint64_t>(plain.size()));
    // group 0: key rotated 1 = 0x00000003, group 1: 0x00000006, group 2 (partial): 0x0000000C
    QCOMPARE(masked, QByteArray::fromHex("03000000" "06000000" "0c00"));
    QByteArray back(plain.size(), '\0');
    Deobfuscate(key, masked.constData(), back.data(), static_cast<std::uint64_t>(masked.size()));
    QCOMPARE(back, plain);
    QByteArray inPlace = QByteArray::fromHex("0102030405");
    Obfuscate(0xA1B2C3D4u, inPlace.constData(), inPlace.data(), 5);
    Deobfuscate(0xA1B2C3D4u, inPlace.constData(), inPlace.data(), 5);
    QCOMPARE(inPlace, QByteArray::fromHex("0102030405"));
  }
};

QTEST_GUILESS_MAIN(TestStreams)
#include "tst_streams.moc"
