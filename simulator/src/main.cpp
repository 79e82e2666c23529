// tarvik-sim: runs one simulated Tarvik Module in the foreground until SIGINT or SIGTERM.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tarvik_sim/control.h"
#include "tarvik_sim/module.h"

namespace {

const char kHelp[] =
    "usage: tarvik-sim --map DIR [options]\n"
    "\n"
    "Runs one simulated Tarvik Module on pseudo-terminals until SIGINT, SIGTERM or SIGHUP. The\n"
    "AT port and a second port are published in DIR as symbolic links to their\n"
    "pseudo-terminals; the links are removed on exit. DIR defaults to $TARVIK_DEVICE_MAP.\n"
    "\n"
    "options:\n"
    "  --map DIR            device-map directory for the links\n"
    "  --preset NAME        start from a ready-made profile: default (= calt), calt, brem, dovin,\n"
    "                       unknown (a product number no platform row knows)\n"
    "  --profile FILE       apply \"key = value\" lines from FILE ('#' starts a comment)\n"
    "  --set KEY=VALUE      apply one profile setting (after --profile)\n"
    "  --fault KEY=VALUE    set one fault from the start\n"
    "  --scenario FILE      run a scenario (below)\n"
    "  --control SOCKET     accept control commands on a Unix stream socket (below)\n"
    "  --log FILE           readable log of everything received and sent\n"
    "  --state FILE         keep the update state in FILE (read at start when it exists, written\n"
    "                       on every change) so that separate runs see the same module\n"
    "  --at-link NAME       link name of the AT port (default usb-Tarvik_Module_0001-if00-mdm)\n"
    "  --second-link NAME   link name of the second port (default\n"
    "                       usb-Tarvik_Module_0001-if02-diag)\n"
    "  -h, --help           this text\n"
    "\n"
    "profile keys:\n"
    "  preset, product_number, model, imei, svn, serial_number, product_revision,\n"
    "  firmware_version, config_set_product, config_set_revision, individualization, domain,\n"
    "  network_customization, upgrade_state (0-13), report.<field name> (any of the 49 report\n"
    "  fields, e.g. report.Vendor Name), platform (name in the VERS answer), eotp (info text of\n"
    "  the AT*EOTP answer), operator_domain, sim (absent, ready, pin, puk, ph-net, ph-netsub,\n"
    "  ph-sp, ph-corp, ph-simlock, ph-esl), pin, puk, lock_code (unlocks the PH- locks),\n"
    "  itp_marker (a payload holding this text is an ITP assignment: ITP mode after the next\n"
    "  restart),\n"
    "  pin_tries, imsi, iccid (digits), temperature, radio_mode (1 or 4), itp (0/1: start in\n"
    "  ITP mode), led, packages (comma list of package names, or name:length), target_revision,\n"
    "  received_packages, self_restart (0/1), keep_revision (0/1: back from the restart after\n"
    "  installing on the old revision), install_ms, self_restart_ms (from state 5 to\n"
    "  going away), restart_away_ms, ready_after (the\n"
    "  AT*EMRDY? query that first answers ready after each start), answer (\"COMMAND => TEXT\":\n"
    "  the whole answer to COMMAND, with \\r \\n \\xNN escapes; checked before the built-in\n"
    "  commands, in AT and ITP mode; for commands the module does not know)\n"
    "  radio.<key>: gsm_bands, wcdma_bands (AT*E2BAND? masks, 0-99), itp_supported,\n"
    "  itp_enabled (band numbers for gdre=0,404 and gdre=0,417), itp_gsm_calibration (the\n"
    "  four fields of gdre=0,1244..1247), gps_valid, gps_signal_strength, gps_snr,\n"
    "  itp_gps_state (3: GPS error), itp_gps_satellite, rssi_delivery (lines, bursts,\n"
    "  with_result: how the *EEMRSSI: lines of an unsolicited scan are written), rssi_burst\n"
    "  (lines per burst), rssi_gap_ms (between writes)\n"
    "  Default: a Calt module (ZRB 207 43/1), configuration set ZNT4028813/1 revision R3C01,\n"
    "  individualization 189.190, upgrade state 1, asking for the network list and\n"
    "  ZNT4025527_1_R4A02_FC.ZIP once a net configuration arrived.\n"
    "\n"
    "faults (--fault, scenario and control \"fault KEY=VALUE\"):\n"
    "  never_ready=1, split_offsets=A,B,.. (answers written in pieces), split_pause_ms=N,\n"
    "  answer_delay_ms=N, garbage_before_answer=TEXT (\\r \\n \\xNN escapes),\n"
    "  error_commands=CMD|CMD.. (answered ERROR), no_unsolicited=1, unplug_after_bytes=N,\n"
    "  stay_away=1, tc_nack_datagram=N, tc_nack_result=R, tc_bad_version_datagram=N,\n"
    "  tc_bad_session_datagram=N, tc_no_ack_datagram=N (datagrams counted from when the faults\n"
    "  were set, from 1; each fires once), tc_split_frames=1, tc_unplug_after_payload_bytes=N\n"
    "  (bytes received in the transparent channel), tc_answer_result=R, sf_ack_result=R (every\n"
    "  secure-frame packet acknowledged with R; the module gives up), sf_final_result=R,\n"
    "  sf_no_return=1 (no OK after the final acknowledgement), sf_stray_bytes=TEXT,\n"
    "  sf_split_ok=1 (that OK written in two pieces), clear=1\n"
    "\n"
    "secure frame (after AT*EESFUD=3): every request packet is acknowledged; a packet shorter\n"
    "  than 32768 bytes, or a second without a packet after a full one (or after the start),\n"
    "  completes the data: final acknowledgement, then \"\\r\\nOK\\r\\n\" and AT mode again.\n"
    "\n"
    "assignments (over either channel): data holding \"TRVCC \" within its first 16 bytes is an\n"
    "  assignment. Its lines after that one, up to an empty line, are profile settings "
    "\"KEY=VALUE\"\n"
    "  (the keys above) that the module applies once it accepted the data; \"itp=1\" takes effect\n"
    "  at the next start.\n"
    "\n"
    "radio: AT*E2BAND?, AT*EEMRSSI (scans; report type 2 sends one unsolicited line per\n"
    "  sample), AT*EEMGPSMEASURE, AT*EEMENABLETX in AT mode and mode, gdre, swrx, rxbr, wrxc,\n"
    "  rxpw, rdiv, grsd, the transmitter commands and rera in ITP mode. Scans and the AT-mode\n"
    "  transmitter need the radio off (AT+CFUN=4). Levels: main receiver -50 - (channel % 32)/2\n"
    "  dBm, diversity 2.5 dB less, each later sample 0.25 dB less; rxbr raw level 0x80 +\n"
    "  channel % 8 + 2 per sample.\n"
    "\n"
    "upgrade state machine:\n"
    "  idle (state 0 or 1) at its configuration-set revision. A transparent-channel payload\n"
    "  whose length is that of a net configuration (24792 bytes: target R5E/1) makes the target\n"
    "  the module's \"Config. Set Revision\" and moves it to state 2; AT*EEVINFO=4 then lists\n"
    "  \"# <package>\" for every wanted package not yet received. Each payload in state 2 must\n"
    "  have the length of a package still wanted (else the answer result is 255). When all\n"
    "  arrived: state 3 (installing) for install_ms, then state 5 and a restart by itself\n"
    "  (self_restart=1) or state 4 waiting for AT*E2RESET (self_restart=0); it comes back in\n"
    "  state 1 on the target (on its old revision with keep_revision=1). A restart in state 3,\n"
    "  4 or 5 completes the installation. Every change is sent as \"*EEUSTATE:1,<state>\" after\n"
    "  AT*EEUSTATE=1 (off again after each restart), once the port is back in AT mode and no\n"
    "  answer is pending. Received packages and the state survive restarts (and runs, with\n"
    "  --state), so a broken run resumes.\n"
    "\n"
    "scenario file, one item a line ('#' comments):\n"
    "  ACTION                      done at start (set and fault lines before the ports appear)\n"
    "  at MS ACTION                done MS milliseconds after start\n"
    "  after \"COMMAND\" ACTION      done as soon as the module received COMMAND (each once)\n"
    "control socket: one ACTION or QUERY a line; the answer is \"OK\", \"ERROR <why>\" or a value\n"
    "line followed by \"OK\".\n"
    "  actions: unplug, unplug-forever, plug, restart, fault KEY=VALUE, clear-faults,\n"
    "           set KEY=VALUE, state N (change the upgrade state), unsolicited TEXT (escapes)\n"
    "  queries: state?, present?, restarts?, port?, echo?, tc?, commands? (one a line)\n";

struct Timed {
  long at_ms;
  std::string action;
  bool done = false;
};

struct After {
  std::string command;
  std::string action;
  bool done = false;
};

bool ParseScenario(const std::string& path, std::vector<std::string>* initial,
                   std::vector<Timed>* timed, std::vector<After>* after, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read scenario '" + path + "'";
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    std::string text = tarvik_sim::ControlTrim(line);
    if (text.empty() || text[0] == '#') continue;
    if (text.rfind("at ", 0) == 0) {
      char* end = nullptr;
      long ms = std::strtol(text.c_str() + 3, &end, 10);
      if (end == text.c_str() + 3 || ms < 0) {
        *error = path + ":" + std::to_string(number) + ": expected at MS ACTION";
        return false;
      }
      timed->push_back({ms, tarvik_sim::ControlTrim(end)});
    } else if (text.rfind("after \"", 0) == 0) {
      size_t close = text.find('"', 7);
      if (close == std::string::npos) {
        *error = path + ":" + std::to_string(number) + ": expected after \"COMMAND\" ACTION";
        return false;
      }
      after->push_back(
          {text.substr(7, close - 7), tarvik_sim::ControlTrim(text.substr(close + 1))});
    } else {
      initial->push_back(text);
    }
  }
  return true;
}

bool SplitKeyValue(const std::string& text, std::string* key, std::string* value) {
  size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  *key = text.substr(0, equals);
  *value = text.substr(equals + 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tarvik_sim::Profile profile = tarvik_sim::DefaultProfile();
  tarvik_sim::Faults faults;
  tarvik_sim::ModuleOptions options;
  if (const char* env = getenv("TARVIK_DEVICE_MAP")) options.map_dir = env;
  std::string scenario_path;
  std::string control_path;
  std::string error;

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto next = [&](std::string* value) {
      if (i + 1 >= argc) {
        fprintf(stderr, "tarvik-sim: %s needs a value\n", arg.c_str());
        return false;
      }
      *value = argv[++i];
      return true;
    };
    std::string value;
    std::string key;
    std::string setting;
    if (arg == "-h" || arg == "--help") {
      fputs(kHelp, stdout);
      return 0;
    } else if (arg == "--map") {
      if (!next(&options.map_dir)) return 2;
    } else if (arg == "--preset") {
      if (!next(&value)) return 2;
      if (!tarvik_sim::PresetProfile(value, &profile)) {
        fprintf(stderr, "tarvik-sim: unknown preset '%s'\n", value.c_str());
        return 2;
      }
    } else if (arg == "--profile") {
      if (!next(&value)) return 2;
      if (!tarvik_sim::LoadProfileFile(value, &profile, &error)) {
        fprintf(stderr, "tarvik-sim: %s\n", error.c_str());
        return 2;
      }
    } else if (arg == "--set" || arg == "--fault") {
      if (!next(&value)) return 2;
      if (!SplitKeyValue(value, &key, &setting)) {
        fprintf(stderr, "tarvik-sim: %s expects KEY=VALUE\n", arg.c_str());
        return 2;
      }
      bool ok = arg == "--set" ? tarvik_sim::ApplyProfileSetting(&profile, key, setting, &error)
                               : tarvik_sim::ApplyFaultSetting(&faults, key, setting, &error);
      if (!ok) {
        fprintf(stderr, "tarvik-sim: %s\n", error.c_str());
        return 2;
      }
    } else if (arg == "--scenario") {
      if (!next(&scenario_path)) return 2;
    } else if (arg == "--control") {
      if (!next(&control_path)) return 2;
    } else if (arg == "--log") {
      if (!next(&options.log_file)) return 2;
    } else if (arg == "--state") {
      if (!next(&options.state_file)) return 2;
    } else if (arg == "--at-link") {
      if (!next(&options.at_link_name)) return 2;
    } else if (arg == "--second-link") {
      if (!next(&options.second_link_name)) return 2;
    } else {
      fprintf(stderr, "tarvik-sim: unknown option '%s' (see --help)\n", arg.c_str());
      return 2;
    }
  }
  if (options.map_dir.empty()) {
    fprintf(stderr, "tarvik-sim: --map DIR is required (see --help)\n");
    return 2;
  }

  std::vector<std::string> initial;
  std::vector<Timed> timed;
  std::vector<After> after;
  if (!scenario_path.empty() && !ParseScenario(scenario_path, &initial, &timed, &after, &error)) {
    fprintf(stderr, "tarvik-sim: %s\n", error.c_str());
    return 2;
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);  // a closed terminal still removes the links
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC);
  if (signal_fd < 0) {
    fprintf(stderr, "tarvik-sim: signalfd: %s\n", strerror(errno));
    return 1;
  }

  int listen_fd = -1;
  if (!control_path.empty()) {
    listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (control_path.size() >= sizeof address.sun_path) {
      fprintf(stderr, "tarvik-sim: control socket path too long\n");
      return 2;
    }
    strncpy(address.sun_path, control_path.c_str(), sizeof address.sun_path - 1);
    unlink(control_path.c_str());
    if (listen_fd < 0 ||
        bind(listen_fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0 ||
        listen(listen_fd, 4) != 0) {
      fprintf(stderr, "tarvik-sim: control socket %s: %s\n", control_path.c_str(), strerror(errno));
      return 1;
    }
  }

  // Settings and faults of the scenario hold before the module shows up; other actions come
  // after the start.
  std::vector<std::string> after_start;
  for (const std::string& action : initial) {
    std::string key;
    std::string setting;
    bool ok = true;
    if (action.rfind("fault ", 0) == 0 && SplitKeyValue(action.substr(6), &key, &setting)) {
      ok = tarvik_sim::ApplyFaultSetting(&faults, key, setting, &error);
    } else if (action.rfind("set ", 0) == 0 && SplitKeyValue(action.substr(4), &key, &setting)) {
      ok = tarvik_sim::ApplyProfileSetting(&profile, key, setting, &error);
    } else {
      after_start.push_back(action);
    }
    if (!ok) {
      fprintf(stderr, "tarvik-sim: scenario: %s\n", error.c_str());
      return 2;
    }
  }

  tarvik_sim::Module module;
  module.SetFaults(faults);
  if (!module.Start(profile, options, &error)) {
    fprintf(stderr, "tarvik-sim: %s\n", error.c_str());
    if (!control_path.empty()) unlink(control_path.c_str());
    return 1;
  }
  for (const std::string& action : after_start) {
    std::string reply;
    if (!tarvik_sim::RunControlLine(&module, action, &reply)) {
      fprintf(stderr, "tarvik-sim: scenario: %s\n", reply.c_str());
    }
  }
  printf("tarvik-sim: AT port %s -> %s, second port %s -> %s\n", module.AtLinkPath().c_str(),
         module.AtPortPath().c_str(), module.SecondLinkPath().c_str(),
         module.SecondPortPath().c_str());
  fflush(stdout);

  const auto start = std::chrono::steady_clock::now();
  std::vector<int> clients;
  std::vector<std::string> client_input;
  size_t commands_seen = 0;
  bool running = true;
  while (running) {
    std::vector<struct pollfd> fds;
    fds.push_back({signal_fd, POLLIN, 0});
    if (listen_fd >= 0) fds.push_back({listen_fd, POLLIN, 0});
    for (int client : clients) fds.push_back({client, POLLIN, 0});

    long elapsed = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
    int timeout = -1;
    for (Timed& item : timed) {
      if (item.done) continue;
      if (item.at_ms <= elapsed) {
        item.done = true;
        std::string reply;
        if (!tarvik_sim::RunControlLine(&module, item.action, &reply)) {
          fprintf(stderr, "tarvik-sim: scenario: %s\n", reply.c_str());
        }
        continue;
      }
      long wait = item.at_ms - elapsed;
      if (timeout < 0 || wait < timeout) timeout = static_cast<int>(wait);
    }
    bool watching = false;
    for (const After& item : after) watching = watching || !item.done;
    if (watching) {
      std::vector<std::string> commands = module.Commands();
      if (commands.size() < commands_seen) commands_seen = 0;
      for (; commands_seen < commands.size(); ++commands_seen) {
        for (After& item : after) {
          if (item.done || tarvik_sim::ControlUpper(commands[commands_seen]) !=
                               tarvik_sim::ControlUpper(item.command)) {
            continue;
          }
          item.done = true;
          std::string reply;
          if (!tarvik_sim::RunControlLine(&module, item.action, &reply)) {
            fprintf(stderr, "tarvik-sim: scenario: %s\n", reply.c_str());
          }
        }
      }
      if (timeout < 0 || timeout > 5) timeout = 5;
    }

    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      struct signalfd_siginfo info;
      ssize_t ignored = read(signal_fd, &info, sizeof info);
      (void)ignored;
      running = false;
      break;
    }
    size_t first_client = 1;
    if (listen_fd >= 0) {
      first_client = 2;
      if (fds[1].revents & POLLIN) {
        int client = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
          clients.push_back(client);
          client_input.emplace_back();
        }
      }
    }
    for (size_t i = first_client; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      size_t index = i - first_client;
      char buffer[1024];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        close(fds[i].fd);
        clients[index] = -1;
        continue;
      }
      client_input[index].append(buffer, static_cast<size_t>(got));
      size_t newline;
      while ((newline = client_input[index].find('\n')) != std::string::npos) {
        std::string line = client_input[index].substr(0, newline);
        client_input[index].erase(0, newline + 1);
        std::string reply;
        bool ok = tarvik_sim::RunControlLine(&module, line, &reply);
        std::string answer = ok ? reply + "OK\n" : "ERROR " + reply + "\n";
        ssize_t ignored = write(fds[i].fd, answer.data(), answer.size());
        (void)ignored;
      }
      if (client_input[index].size() > 65536) client_input[index].clear();
    }
    for (size_t i = clients.size(); i-- > 0;) {
      if (clients[i] < 0) {
        clients.erase(clients.begin() + static_cast<long>(i));
        client_input.erase(client_input.begin() + static_cast<long>(i));
      }
    }
  }
  module.Stop();
  for (int client : clients) close(client);
  if (listen_fd >= 0) {
    close(listen_fd);
    unlink(control_path.c_str());
  }
  close(signal_fd);
  return 0;
}
