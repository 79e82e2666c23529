// The module's engines without terminals: steps in, what the host would read out. One table per
// behaviour, all run by one checker.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulator/tests/support/engine_runner.h"
#include "testing/files.h"
#include "testing/tc_frames.h"

namespace {

using tarvik_sim_test::EngineRunner;
using tarvik_sim_test::kClock;
using tarvik_sim_test::kInfo;
using tarvik_sim_test::kRestart;
using tarvik_sim_test::kWait;
using tarvik_sim_test::Payload;
using tarvik_sim_test::State;
using tarvik_test::TcControlFrame;
using tarvik_test::TcDatagram;
using tarvik_test::TcRequestPayload;

// "AT*EETC=2", `frames`, close.
std::string Channel(const std::string& frames) {
  return "AT*EETC=2\r" + frames + TcControlFrame();
}
// A secure-frame request packet whose header announces `size` bytes (the payload's by default).
std::string SfPacket(const std::string& payload, size_t size = std::string::npos) {
  std::string packet = "ZAMU";
  const size_t announced = size == std::string::npos ? payload.size() : size;
  for (uint32_t field : {32u, 1u, 0u, 0xFFFFFFFFu, static_cast<uint32_t>(announced)}) {
    for (int shift = 24; shift >= 0; shift -= 8)
      packet.push_back(static_cast<char>(field >> shift));
  }
  return packet + payload;
}

struct Row {
  const char* name;
  std::string setup;
  std::vector<std::string> steps;
  std::string expected;
};

// `setup`: "key=value;..." profile settings over the default profile, "!key=value" faults.
template <size_t N>
void CheckTable(const Row (&rows)[N]) {
  for (const Row& row : rows) {
    tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
    tarvik_sim::Faults faults;
    for (std::string item : tarvik_test::SplitLines(row.setup, ";", false)) {
      const bool fault = item[0] == '!';
      const size_t key = fault ? 1 : 0;
      const size_t equals = item.find('=');
      std::string error;
      EXPECT_TRUE(fault ? tarvik_sim::ApplyFaultSetting(&faults, item.substr(key, equals - key),
                                                        item.substr(equals + 1), &error)
                        : tarvik_sim::ApplyProfileSetting(&profile, item.substr(0, equals),
                                                          item.substr(equals + 1), &error))
          << row.name << ": " << error;
    }
    EXPECT_EQ(EngineRunner(profile, faults).Run(row.steps), row.expected) << row.name;
  }
}

const std::string kOk = "\r\nOK\r\n";

TEST(EngineTest, LineHandling) {
  // clang-format off
  const Row rows[] = {
      {"echo until ATE0 and from ATE1, CR alone ends a line", "", {"AT\rATE0\rat\rATE1\rAT\r"}, "AT\r" + kOk + "ATE0\r" + kOk + kOk + kOk + "AT\r" + kOk},
      {"CR LF is one line end, echoed before the answer", "", {"AT\r\n\r\n"}, "AT\r\n" + kOk + "\r\n"},
      {"a line in pieces is one command", "", {"ATE0\rAT*EM", "RDY?\r"}, "ATE0\r" + kOk + "\r\n*EMRDY: 1\r\n" + kOk},
      {"unknown and empty lines", "", {"ATE0\rAT+NOSUCH\rAT+CFUN=7\rAT*EEVINFO=5\rAT*EEMLED=2\r  \r\r"}, "ATE0\r" + kOk + "\r\nERROR\r\n\r\nERROR\r\n\r\nERROR\r\n\r\nERROR\r\n"},
      {"an overlong line is refused whole", "", {"ATE0\rAT" + std::string(5000, 'X') + "\rAT\r"}, "ATE0\r" + kOk + "\r\nERROR\r\n" + kOk},
      {"nothing after a restart's OK is taken", "", {"ATE0\rAT*E2RESET\rAT\r", "AT\r", kWait, "AT\r"}, "ATE0\r" + kOk + kOk + "<away>AT\r" + kOk},
      {"a restart starts the session afresh", "ready_after=2", {"ATE0\rAT*EEUSTATE=1\rAT*EMRDY?\rAT*EMRDY?\r", kRestart, "AT*EMRDY?\rAT*EEUSTATE?\r"}, "ATE0\r" + kOk + kOk + "\r\n*EMRDY: 0\r\n" + kOk + "\r\n*EMRDY: 1\r\n" + kOk + "<away>AT*EMRDY?\r\r\n*EMRDY: 0\r\n" + kOk + "AT*EEUSTATE?\r\r\n*EEUSTATE: 0,1\r\n" + kOk},
      {"ITP mode: no echo, and it survives a plain restart", "itp=1", {"AT\r", kRestart, "AT\r"}, "\r\nCERR: 1\r\n<away>\r\nCERR: 1\r\n"},
      {"ITP commands: unknown, LED forms, the OTP area", "itp=1", {"FROB\rledc=1,3,21\rledc=1,2\rledc=2,1\rledc=1,x\rAT*EOTP\r"}, "\r\nFROB, ERR\r\n" + kOk + "\r\nledc, ERR\r\n\r\nledc, ERR\r\n\r\nledc, ERR\r\n\r\n*EOTP: 189\r\n" + kOk},
      {"scripted answers in ITP mode too", "itp=1;answer=gdre=0,404 => \\r\\nGDRE: 12\\r\\nOK\\r\\n", {"gdre=0,404\rgdre=0,999\r"}, "\r\nGDRE: 12\r\nOK\r\n\r\ngdre=0,999, ERR\r\n"},
      {"a Brem module leaves ITP mode on KILL", "preset=brem;itp=1", {"KILD\rKILL\r", kWait, "AT\r"}, "\r\nKILD, ERR\r\n" + kOk + "<away>AT\r" + kOk},
      {"a Calt module leaves ITP mode on KILD", "itp=1", {"KILL\rKILD\r", kWait, "AT\r"}, "\r\nKILL, ERR\r\n" + kOk + "<away>AT\r" + kOk},
      {"scripted answers come first", "answer=AT+CGMI => \\r\\nSomeone\\r\\nOK\\r\\n", {"at+cgmi\r"}, "at+cgmi\r\r\nSomeone\r\nOK\r\n"},
  };
  // clang-format on
  CheckTable(rows);
}

TEST(EngineTest, SimAndPin) {
  // clang-format off
  const Row rows[] = {
      {"wrong PINs lead to PUK, which sets a new PIN", "sim=pin", {"ATE0\rAT+CPIN=\"1\"\rAT+CPIN=\"1\"\rAT+CPIN=\"1\"\rAT+CPIN?\rAT+CPIN=\"12345678\",\"9\"\rAT+CPIN?\r"}, "ATE0\r" + kOk + "\r\n+CME ERROR: 16\r\n\r\n+CME ERROR: 16\r\n\r\n+CME ERROR: 16\r\n\r\n+CPIN: SIM PUK\r\n" + kOk + kOk + "\r\n+CPIN: READY\r\n" + kOk},
      {"a locked SIM keeps its data; nothing to unlock when ready", "sim=pin", {"ATE0\rAT+CIMI\rAT+CPIN=\"1234\"\rAT+CPIN=\"1234\"\rAT+CIMI\r"}, "ATE0\r" + kOk + "\r\n+CME ERROR: 11\r\n" + kOk + "\r\n+CME ERROR: 3\r\n\r\n240991234567890\r\n" + kOk},
      {"personalisation locks open with the lock code", "sim=ph-net", {"ATE0\rAT+CPIN?\rAT+CPIN=\"1234\"\rAT+CPIN=\"00000000\"\rAT+CPIN?\r"}, "ATE0\r" + kOk + "\r\n+CPIN: PH-NET PIN\r\n" + kOk + "\r\n+CME ERROR: 16\r\n" + kOk + "\r\n+CPIN: READY\r\n" + kOk},
      {"an ICCID of odd length ends in the swapped filler", "iccid=8946012345678901234", {"ATE0\rAT+CRSM=176,12258,0,0,10\r"}, "ATE0\r" + kOk + "\r\n+CRSM: 144,0,\"986410325476981032F4\"\r\n" + kOk},
  };
  // clang-format on
  CheckTable(rows);
}

TEST(EngineTest, AnswerFaults) {
  // clang-format off
  const Row rows[] = {
      {"never ready", "!never_ready=1", {"ATE0\rAT*EMRDY?\r"}, "ATE0\r" + kOk + "\r\n*EMRDY: 0\r\n" + kOk},
      {"answers in pieces, an offset past the end ignored", "!split_offsets=2,5,100;!split_pause_ms=50", {"AT\r"}, "AT\r\r\n(+50)OK\r(+50)\n"},
      {"the answer is late, the echo is not", "!answer_delay_ms=400", {"AT\r"}, "AT\r(+400)" + kOk},
      {"garbage before the answer", "!garbage_before_answer=\\x00\\xffjunk\\r", {"AT\r"}, "AT\r\\x00\\xffjunk\r" + kOk},
      {"ERROR for the chosen commands only", "!error_commands=at+cimi|AT+CGMM", {"AT+CIMI\rAT\r"}, "AT+CIMI\r\r\nERROR\r\nAT\r" + kOk},
      {"state lines only when asked for", "", {State(6), "AT*EEUSTATE=1\r", State(7), "AT*EEUSTATE=0\r", State(8)}, "AT*EEUSTATE=1\r" + kOk + "<u:\r\n*EEUSTATE:1,7\r\n>AT*EEUSTATE=0\r" + kOk},
      {"no state lines at all", "!no_unsolicited=1", {"AT*EEUSTATE=1\r", State(7)}, "AT*EEUSTATE=1\r" + kOk},
      {"unplug once this many bytes came", "!unplug_after_bytes=6", {"AT\r", "AT\r", "AT\r"}, "AT\r" + kOk + "<away>AT\r" + kOk},
  };
  // clang-format on
  CheckTable(rows);
}

// An assignment (service pre-header, header line, settings) and a command that shows its effect.
const std::string kAssignment("\0\0\0\x04TRVCC 4001 1\noperator_domain=TRV_X\n\nrest", 44);
const std::string kOperatorDomain = "AT*EERCUST=0,\"TRV_OPERATOR_DOMAIN\"\r";
const std::string kOpen = "AT*EETC=2\r" + kOk;
const std::string kClosed = "[reply c0 r0](+5)" + kOk;

TEST(EngineTest, TransparentChannel) {
  const std::string big = TcRequestPayload(65536, 0x1234);
  // clang-format off
  const Row rows[] = {
      {"a payload of two datagrams", "", {Channel(TcDatagram(7, 1, big.substr(0, 65535)) + TcDatagram(7, 0, big.substr(65535)))}, kOpen + "[ack v2 p3 s7 q1 r0][ack v2 p3 s7 q0 r0][answer s7 id4660 r0]" + kClosed},
      {"bytes after a close are AT text", "", {Channel("") + "AT\r"}, kOpen + kClosed + "AT\r" + kOk},
      {"a repeated sequence number is refused", "", {Channel(TcDatagram(4, 2, "ab") + TcDatagram(4, 2, "ab"))}, kOpen + "[ack v2 p3 s4 q2 r0][ack v2 p3 s4 q2 r2]" + kClosed},
      {"another protocol is refused", "", {Channel(TcDatagram(5, 0, "ab", 2, 2))}, kOpen + "[ack v2 p2 s5 q0 r1]" + kClosed},
      {"a close of another version is refused but closes", "", {"AT*EETC=2\r" + TcControlFrame(0, 3)}, kOpen + "[reply c0 r1](+5)" + kOk},
      {"junk and a half frame are dropped after a while", "", {"AT*EETC=2\r\x02\x09" + TcDatagram(1, 0, "abcdef").substr(0, 7), kWait, TcControlFrame()}, kOpen + kClosed},
      {"negative acknowledgement", "!tc_nack_datagram=2;!tc_nack_result=7", {Channel(TcDatagram(1, 1, "a") + TcDatagram(1, 0, "b"))}, kOpen + "[ack v2 p3 s1 q1 r0][ack v2 p3 s1 q0 r7]" + kClosed},
      {"wrong version, then wrong session, once each", "!tc_bad_version_datagram=1;!tc_bad_session_datagram=2", {Channel(TcDatagram(9, 1, "a") + TcDatagram(9, 0, "b") + TcDatagram(3, 0, "c"))}, kOpen + "[ack v3 p3 s9 q1 r0][ack v2 p3 s10 q0 r0][answer s9 id25185 r0][ack v2 p3 s3 q0 r0][answer s3 id99 r0]" + kClosed},
      {"no acknowledgement", "!tc_no_ack_datagram=1", {Channel(TcDatagram(1, 0, "a") + TcDatagram(2, 0, "b"))}, kOpen + "[ack v2 p3 s2 q0 r0][answer s2 id98 r0]" + kClosed},
      {"frames in three pieces", "!tc_split_frames=1;!split_pause_ms=20", {"AT*EETC=2\r" + TcDatagram(1, 1, "a")}, kOpen + "\\x02\\x03\\x03(+20)\\x00\\x01\\x00(+20)\\x01\\x00\\x00\\x00"},
      {"answer result", "!tc_answer_result=255", {Channel(TcDatagram(1, 0, "a"))}, kOpen + "[ack v2 p3 s1 q0 r0][answer s1 id97 r255]" + kClosed},
      {"unplug in the middle of a payload", "!tc_unplug_after_payload_bytes=20", {"AT*EETC=2\r", TcDatagram(1, 1, "abcdef"), TcDatagram(1, 0, "abcdef"), "AT\r"}, kOpen + "[ack v2 p3 s1 q1 r0]<away>AT\r" + kOk},
      {"an ITP assignment switches at the next restart", "itp_marker=ITP-GO", {Channel(TcDatagram(1, 0, "x ITP-GO y")), "AT\r", kRestart, "AT\r"}, kOpen + "[ack v2 p3 s1 q0 r0][answer s1 id8312 r0]" + kClosed + "AT\r" + kOk + "<away>\r\nCERR: 1\r\n"},
      {"an assignment applies its settings", "", {Channel(TcDatagram(1, 0, kAssignment)), kOperatorDomain}, kOpen + "[ack v2 p3 s1 q0 r0][answer s1 id0 r0]" + kClosed + kOperatorDomain + "\r\n*EERCUST: TRV_X\r\n" + kOk},
  };
  // clang-format on
  CheckTable(rows);
}

TEST(EngineTest, SecureFrame) {
  const std::string full(32768, 'f');
  const std::string open = "AT*EESFUD=3\r" + kOk;
  const std::string done = "(+20)[sf r0](+40)" + kOk;
  // clang-format off
  const Row rows[] = {
      {"a short packet ends the data", "", {"AT*EESFUD=3\r", SfPacket(full), SfPacket("a"), "AT\r"}, open + "[sf r0][sf r0]" + done + "AT\r" + kOk},
      {"a quiet spell after a full packet ends it", "", {"AT*EESFUD=3\r" + SfPacket(full), kWait}, open + "[sf r0]" + done},
      {"no data at all ends after a quiet spell", "", {"AT*EESFUD=3\r", kWait}, open + done},
      {"bytes before a header are skipped, after the end dropped", "", {"AT*EESFUD=3\r", "xy" + SfPacket("abc") + "AT\r"}, open + "[sf r0]" + done},
      {"a packet too large is refused", "", {"AT*EESFUD=3\r" + SfPacket("", 40000) + SfPacket("a")}, open + "[sf r2][sf r0]" + done},
      {"final result", "!sf_final_result=4", {"AT*EESFUD=3\r" + SfPacket("a")}, open + "[sf r0](+20)[sf r4](+40)" + kOk},
      {"a refused packet ends it without OK", "!sf_ack_result=2", {"AT*EESFUD=3\r" + SfPacket("a"), "AT\r"}, open + "[sf r2]AT\r" + kOk},
      {"no return to AT mode", "!sf_no_return=1", {"AT*EESFUD=3\r" + SfPacket("a"), "AT\r"}, open + "[sf r0](+20)[sf r0]"},
      {"stray bytes before every response", "!sf_stray_bytes=\\x00\\x01", {"AT*EESFUD=3\r" + SfPacket("a")}, open + "\\x00\\x01[sf r0](+20)\\x00\\x01[sf r0](+40)" + kOk},
      {"an ITP assignment switches at the next restart", "preset=brem;itp_marker=ITP-GO", {"AT*EESFUD=3\r" + SfPacket("ITP-GO"), "AT*E2RESET\r", kWait, "AT\r"}, open + "[sf r0]" + done + "AT*E2RESET\r" + kOk + "<away>\r\nCERR: 1\r\n"},
      {"the final OK in two pieces", "!sf_split_ok=1", {"AT*EESFUD=3\r" + SfPacket("a")}, open + "[sf r0](+20)[sf r0](+40)\r\nOK(+40)\r\n"},
      {"an accepted assignment applies its settings", "", {"AT*EESFUD=3\r" + SfPacket(kAssignment), kOperatorDomain}, open + "[sf r0]" + done + kOperatorDomain + "\r\n*EERCUST: TRV_X\r\n" + kOk},
      {"a refused one does not", "!sf_final_result=4", {"AT*EESFUD=3\r" + SfPacket(kAssignment), kOperatorDomain}, open + "[sf r0](+20)[sf r4](+40)" + kOk + kOperatorDomain + "\r\n*EERCUST: TRV_GENERIC\r\n" + kOk},
  };
  // clang-format on
  CheckTable(rows);
}

TEST(EngineTest, UpgradeStateMachine) {
  const std::string small = "packages=PKG_A:3000,PKG_B:70000";
  // clang-format off
  const Row rows[] = {
      {"a net configuration takes the target and asks for packages", small, {kInfo, Payload(24792), kInfo, Payload(1234), Payload(24792), Payload(70000), kInfo}, "<1 R3C01><r=0><2 R5E/1 PKG_A PKG_B><r=255><r=0><r=0><2 R5E/1 PKG_A>"},
      {"all packages: installing, state 5, a restart by itself on the target", small, {Payload(24792), Payload(3000), Payload(70000), kInfo, kWait, kInfo, kWait, kInfo}, "<r=0><r=0><r=0><3 R5E/1><5 R5E/1><away><1 R5E/1>"},
      {"installing and the self restart take their set times", small + ";install_ms=700;self_restart_ms=1500", {Payload(24792), Payload(3000), Payload(70000), kWait, kClock, kWait, kClock}, "<r=0><r=0><r=0><t=700><away><t=2200>"},
      {"without self restart it waits in state 4", small + ";self_restart=0", {Payload(24792), Payload(3000), Payload(70000), kWait, kWait, kInfo, "ATE0\rAT*E2RESET\r", kWait, kInfo}, "<r=0><r=0><r=0><idle><4 R5E/1>ATE0\r" + kOk + kOk + "<away><1 R5E/1>"},
      {"a restart half way keeps what arrived", small, {Payload(24792), Payload(70000), kRestart, kInfo}, "<r=0><r=0><away><2 R5E/1 PKG_A>"},
      {"a restart while installing completes it", small, {Payload(24792), Payload(3000), Payload(70000), kRestart, kInfo, kWait}, "<r=0><r=0><r=0><away><1 R5E/1><idle>"},
      {"nothing wanted: installing after a moment", "packages=", {Payload(24792), kInfo, kWait, kInfo}, "<r=0><2 R5E/1><3 R5E/1>"},
      {"idle takes any payload, installing none", "", {Payload(10), State(3), Payload(10)}, "<r=0><r=255>"},
      {"state lines follow the machine", small + ";install_ms=50", {"ATE0\rAT*EEUSTATE=1\r", Payload(24792), Payload(3000), Payload(70000), kWait}, "ATE0\r" + kOk + kOk + "<u:\r\n*EEUSTATE:1,2\r\n><r=0><r=0><u:\r\n*EEUSTATE:1,3\r\n><r=0><u:\r\n*EEUSTATE:1,5\r\n>"},
  };
  // clang-format on
  CheckTable(rows);
}

}  // namespace
