#!/usr/bin/python3
"""The programs' service control over a real D-Bus: a private dbus-daemon, reached through
DBUS_SYSTEM_BUS_ADDRESS, with a fake systemd manager (fake_systemd.py) whose VestriService.service
takes a set time to stop and to start. No module is attached: the runs end with "Unable to open
device" or "Unable to find device", after the service handling around them.

Usage: service_bus_test.py BIN_DIR
"""
import fcntl
import os
import pathlib
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
SERVICE = 'VestriService.service'
UPDATE_LOCK = '/run/lock/tarvik-update.lock'
UNABLE_TO_OPEN = 1002 % 256
UNABLE_TO_FIND = 1003 % 256

BUS_CONFIG = '''<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
'''

# name, fake unit (None: not installed), state, program, its arguments, expected exit status,
# the manager calls expected in order, the unit's state at the end, log lines expected in order,
# and whether another update holds the update lock meanwhile.
CASES = [
    ('an update word stops a running service and starts it again',
     SERVICE, 'active', 'tarvik', ['-t', '{nowhere}', 'fwupdate-path', 'x.dll'], UNABLE_TO_OPEN,
     ['StopUnit', 'StartUnit'], 'active',
     ['Stopping Vestri service before executing Quarn command',
      'Service stopped successfully',
      'Vestri service was successfully stopped.',
      'Serial device specified'], False),
    ('a query word leaves the service alone',
     SERVICE, 'active', 'tarvik', ['-t', '{nowhere}', 'imei'], UNABLE_TO_OPEN,
     [], 'active', ['Serial device specified'], False),
    ('a stopped service is started after an update word',
     SERVICE, 'inactive', 'tarvik', ['-t', '{nowhere}', 'fwupdate', 'x.dll'], UNABLE_TO_OPEN,
     ['StartUnit'], 'active',
     ['The Vestri service is not running, no need to stop it.'], False),
    ('dralmoor stops a running service and starts it again',
     SERVICE, 'active', 'dralmoor', ['-s'], UNABLE_TO_FIND,
     ['StopUnit', 'StartUnit'], 'active', [], False),
    ('a missing unit is neither stopped nor started',
     None, None, 'tarvik', ['-t', '{nowhere}', 'fwupdate-path', 'x.dll'], UNABLE_TO_OPEN,
     [], None,
     ['OpenService failed (2)',
      'The Vestri service is not running, no need to stop it.'], False),
    ('an unreachable bus stops and starts nothing',
     'no bus', None, 'tarvik', ['-t', '{nowhere}', 'fwupdate-path', 'x.dll'], UNABLE_TO_OPEN,
     [], None,
     ['OpenSCManager failed (',
      'The Vestri service is not running, no need to stop it.'], False),
    ('an update that ends while another one runs leaves the service stopped for that one',
     SERVICE, 'active', 'tarvik', ['-t', '{nowhere}', 'fwupdate-path', 'x.dll'], UNABLE_TO_OPEN,
     ['StopUnit'], 'inactive', ['Vestri service was successfully stopped.'], True),
]


def start_bus(work):
    config = work / 'bus.conf'
    config.write_text(BUS_CONFIG.format(socket=work / 'bus'))
    daemon = subprocess.Popen(['dbus-daemon', '--nofork', '--print-address',
                               f'--config-file={config}'],
                              stdout=subprocess.PIPE, text=True)
    address = daemon.stdout.readline().strip()
    if not address:
        raise RuntimeError('dbus-daemon did not start')
    return daemon, address


def in_order(expected, lines):
    """The expected texts appear in lines, each after the one before."""
    position = 0
    for text in expected:
        while position < len(lines) and text not in lines[position]:
            position += 1
        if position == len(lines):
            return f'missing, or out of order: {text!r}'
        position += 1
    return None


def run_case(bin_dir, work, address, case):
    name, unit, state, program, arguments, status, calls, final, log_lines, other_update = case
    record = work / 'record'
    record.unlink(missing_ok=True)
    log = work / 'log'
    log.unlink(missing_ok=True)
    fake = None
    if unit != 'no bus':
        command = [sys.executable, str(HERE / 'fake_systemd.py'), '--address', address,
                   '--record', str(record), '--timeout-ms', '2000']
        if unit is not None:
            command += ['--unit', unit, '--state', state]
        fake = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        if fake.stdout.readline().strip() != 'ready':
            raise RuntimeError('the fake manager did not start')
    env = dict(os.environ)
    env['DBUS_SYSTEM_BUS_ADDRESS'] = address if unit != 'no bus' else f'unix:path={work}/none'
    env['TARVIK_DEVICE_MAP'] = str(work / 'empty-map')
    for seam in ('TARVIK_WAIT_DIVISOR', 'TARVIK_SERVICE_SCRIPT'):
        env.pop(seam, None)
    words = [word.format(nowhere=work / 'no-port') for word in arguments]
    if program == 'tarvik':
        words = ['-d', str(log)] + words
    lock = open(UPDATE_LOCK, 'a+') if other_update else None
    try:
        if lock:
            fcntl.flock(lock, fcntl.LOCK_SH)
        run = subprocess.run([str(bin_dir / program)] + words, env=env, cwd=work / 'run',
                             stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             timeout=120)
    finally:
        if lock:
            lock.close()
        if fake is not None:
            fake.terminate()
            fake.wait(timeout=10)
    problems = []
    if run.returncode != status:
        problems.append(f'exit status {run.returncode}, expected {status}')
    events = record.read_text().splitlines() if record.exists() else []
    made = [event.split()[1] for event in events
            if event.split()[1] in ('StopUnit', 'StartUnit')]
    if made != calls:
        problems.append(f'manager calls {made}, expected {calls}')
    states = [event.split()[2] for event in events if event.split()[1] == unit]
    if final is not None and (states[-1:] or [state]) != [final]:
        problems.append(f'unit states {states}, expected to end {final}')
    problem = in_order(log_lines, log.read_text(errors='replace').splitlines()
                       if log.exists() else [])
    if problem:
        problems.append(f'log: {problem}')
    if problems:
        print(f'FAIL: {name}')
        for problem in problems:
            print(f'  {problem}')
        print('  record:\n    ' + '\n    '.join(events))
        print('  output:\n' + run.stdout + run.stderr)
        if log.exists():
            print('  log:\n' + log.read_text(errors='replace'))
        return False
    print(f'ok: {name}')
    return True


def main():
    bin_dir = pathlib.Path(sys.argv[1]).resolve()
    with tempfile.TemporaryDirectory() as directory:
        work = pathlib.Path(directory)
        (work / 'run').mkdir()
        (work / 'empty-map').mkdir()
        daemon, address = start_bus(work)
        try:
            results = [run_case(bin_dir, work, address, case) for case in CASES]
        finally:
            daemon.terminate()
            daemon.wait(timeout=10)
    passed = sum(results)
    print(f'{passed} passed, {len(results) - passed} failed')
    return 0 if all(results) else 1


if __name__ == '__main__':
    sys.exit(main())
