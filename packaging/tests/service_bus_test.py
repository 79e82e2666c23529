#!/usr/bin/python3
"""The programs' service control over a real D-Bus: a private dbus-daemon, reached through
DBUS_SYSTEM_BUS_ADDRESS, with a fake systemd manager (fake_systemd.py) whose VestriService.service
takes a set time to stop and to start. Most runs have no module and end with "Unable to open
device" or "Unable to find device", after the service handling around them; the run that is
interrupted updates a simulated module.

Usage: service_bus_test.py BIN_DIR
"""
import fcntl
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
SERVICE = 'VestriService.service'


def no_bus(work):
    return f'unix:path={work}/none'


def update_lock(address):
    """The update lock of the updates that reach the bus at address (as tarvik names it)."""
    value = 14695981039346656037
    for byte in address.encode():
        value = ((value ^ byte) * 1099511628211) % 2**64
    return f'/run/lock/tarvik-update-{value:016x}.lock'
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

NOWHERE = ['-t', '{nowhere}']


def case(name, program, arguments, status, calls, final, log=(), unit=SERVICE, state='active',
         other_update=False, signal_when=None):
    """One run: the fake's unit (None: not installed, 'no bus': no bus at all) and its state, the
    program and its arguments, its expected exit status, the manager calls expected in order, the
    unit's state at the end, log lines expected in order, whether another update holds the update
    lock meanwhile, and a log text after which the run gets SIGTERM (a simulated module is then
    attached)."""
    return dict(name=name, program=program, arguments=arguments, status=status, calls=calls,
                final=final, log=list(log), unit=unit, state=state, other_update=other_update,
                signal_when=signal_when)


CASES = [
    case('an update word stops a running service and starts it again',
         'tarvik', NOWHERE + ['fwupdate-path', 'x.dll'], UNABLE_TO_OPEN,
         ['StopUnit', 'StartUnit'], 'active',
         log=['Stopping Vestri service before executing Quarn command',
              'Service stopped successfully',
              'Vestri service was successfully stopped.',
              'Serial device specified']),
    case('a query word leaves the service alone',
         'tarvik', NOWHERE + ['imei'], UNABLE_TO_OPEN, [], 'active',
         log=['Serial device specified']),
    case('a stopped service is started after an update word',
         'tarvik', NOWHERE + ['fwupdate', 'x.dll'], UNABLE_TO_OPEN, ['StartUnit'], 'active',
         log=['The Vestri service is not running, no need to stop it.'], state='inactive'),
    case('dralmoor stops a running service and starts it again',
         'dralmoor', ['-s'], UNABLE_TO_FIND, ['StopUnit', 'StartUnit'], 'active'),
    case('a missing unit is neither stopped nor started',
         'tarvik', NOWHERE + ['fwupdate-path', 'x.dll'], UNABLE_TO_OPEN, [], None,
         log=['OpenService failed (2)',
              'The Vestri service is not running, no need to stop it.'], unit=None),
    case('an unreachable bus stops and starts nothing',
         'tarvik', NOWHERE + ['fwupdate-path', 'x.dll'], UNABLE_TO_OPEN, [], None,
         log=['OpenSCManager failed (',
              'The Vestri service is not running, no need to stop it.'], unit='no bus'),
    case('an update that ends while another one runs leaves the service stopped for that one',
         'tarvik', NOWHERE + ['fwupdate-path', 'x.dll'], UNABLE_TO_OPEN, ['StopUnit'],
         'inactive', log=['Vestri service was successfully stopped.'], other_update=True),
    case('SIGTERM in the middle of an update starts the service again before the end',
         'tarvik', ['-t', '{port}', 'fwupdate', '{container}'], 128 + signal.SIGTERM,
         ['StopUnit', 'StartUnit'], 'active',
         log=['Vestri service was successfully stopped.', 'Progress', 'Ended by signal 15.'],
         signal_when='Progress'),
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


def start_module(bin_dir, map_dir):
    map_dir.mkdir()
    module = subprocess.Popen([str(bin_dir / 'tarvik-sim'), '--map', str(map_dir)],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        links = list(map_dir.glob('*mdm'))
        if links:
            return module, links[0]
        time.sleep(0.1)
    raise RuntimeError('the simulated module did not start')


def signal_after(process, log, text):
    """SIGTERM to the process once its log shows text (within a minute)."""
    for _ in range(600):
        if process.poll() is not None:
            return
        if log.exists() and text in log.read_text(errors='replace'):
            process.send_signal(signal.SIGTERM)
            return
        time.sleep(0.1)


def run_case(bin_dir, work, address, case):
    unit = case['unit']
    record = work / 'record'
    record.unlink(missing_ok=True)
    log = work / 'log'
    log.unlink(missing_ok=True)
    fake = None
    if unit != 'no bus':
        command = [sys.executable, str(HERE / 'fake_systemd.py'), '--address', address,
                   '--record', str(record)]
        if unit is not None:
            command += ['--unit', unit, '--state', case['state']]
        fake = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        if fake.stdout.readline().strip() != 'ready':
            raise RuntimeError('the fake manager did not start')
    env = dict(os.environ)
    env['DBUS_SYSTEM_BUS_ADDRESS'] = address if unit != 'no bus' else no_bus(work)
    env['TARVIK_DEVICE_MAP'] = str(work / 'empty-map')
    for seam in ('TARVIK_WAIT_DIVISOR', 'TARVIK_SERVICE_SCRIPT'):
        env.pop(seam, None)
    module = None
    port = ''
    if case['signal_when']:
        module, port = start_module(bin_dir, work / f'map-{len(list(work.glob("map-*")))}')
    words = [word.format(nowhere=work / 'no-port', port=port,
                         container=bin_dir.parent / 'lib' / 'libupdate_container.dll')
             for word in case['arguments']]
    if case['program'] == 'tarvik':
        words = ['-d', str(log)] + words
    lock = open(update_lock(address), 'a+') if case['other_update'] else None
    try:
        if lock:
            fcntl.flock(lock, fcntl.LOCK_SH)
        process = subprocess.Popen([str(bin_dir / case['program'])] + words, env=env,
                                   cwd=work / 'run', stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if case['signal_when']:
            signal_after(process, log, case['signal_when'])
        output = process.communicate(timeout=120)[0]
    finally:
        if lock:
            lock.close()
        if module is not None:
            module.terminate()
            module.wait(timeout=10)
        if fake is not None:
            fake.terminate()
            fake.wait(timeout=10)
    problems = []
    status, calls, final, state = case['status'], case['calls'], case['final'], case['state']
    if process.returncode != status:
        problems.append(f'exit status {process.returncode}, expected {status}')
    events = record.read_text().splitlines() if record.exists() else []
    made = [event.split()[1] for event in events
            if event.split()[1] in ('StopUnit', 'StartUnit')]
    if made != calls:
        problems.append(f'manager calls {made}, expected {calls}')
    states = [event.split()[2] for event in events if event.split()[1] == unit]
    if final is not None and (states[-1:] or [state]) != [final]:
        problems.append(f'unit states {states}, expected to end {final}')
    problem = in_order(case['log'], log.read_text(errors='replace').splitlines()
                       if log.exists() else [])
    if problem:
        problems.append(f'log: {problem}')
    if problems:
        print(f'FAIL: {case["name"]}')
        for problem in problems:
            print(f'  {problem}')
        print('  record:\n    ' + '\n    '.join(events))
        print('  output:\n' + output.replace('\b', ''))
        if log.exists():
            print('  log:\n' + log.read_text(errors='replace'))
        return False
    print(f'ok: {case["name"]}')
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
            for used in (address, no_bus(work)):
                pathlib.Path(update_lock(used)).unlink(missing_ok=True)
    passed = sum(results)
    print(f'{passed} passed, {len(results) - passed} failed')
    return 0 if all(results) else 1


if __name__ == '__main__':
    sys.exit(main())
