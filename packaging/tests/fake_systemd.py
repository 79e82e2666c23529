#!/usr/bin/python3
"""A fake systemd manager for a private bus: org.freedesktop.systemd1 with LoadUnit, GetUnit,
StartUnit and StopUnit, and one service unit whose stop and start take a set time, as a real
service's do. Every manager call and state change is appended to a record file, one line each:
"<seconds since start> <what>". Prints "ready" once it owns its name.

Debian's dbusmock template for systemd lacks LoadUnit, the Service interface and timed state
changes, which the program's service control relies on; hence this small fake of our own.
"""
import argparse
import sys
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.systemd1'
MANAGER_PATH = '/org/freedesktop/systemd1'
MANAGER = 'org.freedesktop.systemd1.Manager'
UNIT = 'org.freedesktop.systemd1.Unit'
SERVICE = 'org.freedesktop.systemd1.Service'
PROPERTIES = 'org.freedesktop.DBus.Properties'
NO_SUCH_UNIT = 'org.freedesktop.systemd1.NoSuchUnit'


class Record:
    def __init__(self, path):
        self.path = path
        self.start = time.monotonic()

    def __call__(self, text):
        with open(self.path, 'a', encoding='utf-8') as out:
            out.write(f'{time.monotonic() - self.start:.3f} {text}\n')


class Unit(dbus.service.Object):
    def __init__(self, bus, name, load_state, active_state, timeout_ms, record):
        path = MANAGER_PATH + '/unit/' + ''.join(
            c if c.isalnum() else f'_{ord(c):02x}' for c in name)
        super().__init__(bus, path)
        self.path = path
        self.name = name
        self.record = record
        self.properties = {
            UNIT: {'Id': name, 'LoadState': load_state, 'ActiveState': active_state},
            SERVICE: {'ExecMainStatus': dbus.Int32(0),
                      'TimeoutStartUSec': dbus.UInt64(timeout_ms * 1000),
                      'TimeoutStopUSec': dbus.UInt64(timeout_ms * 1000)},
        }

    def set_state(self, state):
        self.properties[UNIT]['ActiveState'] = state
        self.record(f'{self.name} {state}')
        return False  # as a GLib timeout: once

    def change(self, passing, final, milliseconds):
        self.set_state(passing)
        GLib.timeout_add(milliseconds, self.set_state, final)

    @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        try:
            return self.properties[interface][name]
        except KeyError:
            raise dbus.exceptions.DBusException(
                f'no property {interface}.{name}',
                name='org.freedesktop.DBus.Error.UnknownProperty') from None

    @dbus.service.method(PROPERTIES, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return self.properties.get(interface, {})


class Manager(dbus.service.Object):
    def __init__(self, bus, arguments, record):
        super().__init__(bus, MANAGER_PATH)
        self.bus = bus
        self.arguments = arguments
        self.record = record
        self.units = {}
        self.jobs = 0
        if arguments.unit:
            self.units[arguments.unit] = Unit(bus, arguments.unit, 'loaded', arguments.state,
                                              arguments.timeout_ms, record)

    def loaded(self, name):
        unit = self.units.get(name)
        if unit is None or unit.properties[UNIT]['LoadState'] != 'loaded':
            raise dbus.exceptions.DBusException(f'Unit {name} not loaded.', name=NO_SUCH_UNIT)
        return unit

    def job(self):
        self.jobs += 1
        return dbus.ObjectPath(f'{MANAGER_PATH}/job/{self.jobs}')

    @dbus.service.method(MANAGER, in_signature='s', out_signature='o')
    def LoadUnit(self, name):
        self.record(f'LoadUnit {name}')
        # As systemd does, a unit without a file is loaded as "not-found".
        if name not in self.units:
            self.units[name] = Unit(self.bus, name, 'not-found', 'inactive',
                                    self.arguments.timeout_ms, self.record)
        return dbus.ObjectPath(self.units[name].path)

    @dbus.service.method(MANAGER, in_signature='s', out_signature='o')
    def GetUnit(self, name):
        return dbus.ObjectPath(self.loaded(name).path)

    @dbus.service.method(MANAGER, in_signature='ss', out_signature='o')
    def StopUnit(self, name, mode):
        self.record(f'StopUnit {name} {mode}')
        unit = self.loaded(name)
        if unit.properties[UNIT]['ActiveState'] != 'inactive':
            unit.change('deactivating', 'inactive', self.arguments.stop_ms)
        return self.job()

    @dbus.service.method(MANAGER, in_signature='ss', out_signature='o')
    def StartUnit(self, name, mode):
        self.record(f'StartUnit {name} {mode}')
        unit = self.loaded(name)
        if unit.properties[UNIT]['ActiveState'] != 'active':
            unit.change('activating', 'active', self.arguments.start_ms)
        return self.job()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--address', required=True, help='the bus to serve on')
    parser.add_argument('--record', required=True, help='file the calls are appended to')
    parser.add_argument('--unit', default='', help='the one installed unit (none if empty)')
    parser.add_argument('--state', default='active', choices=['active', 'inactive'])
    parser.add_argument('--stop-ms', type=int, default=1500)
    parser.add_argument('--start-ms', type=int, default=1000)
    parser.add_argument('--timeout-ms', type=int, default=90000,
                        help='the unit\'s start and stop time-outs')
    arguments = parser.parse_args()

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(arguments.address)
    record = Record(arguments.record)
    manager = Manager(bus, arguments, record)
    name = dbus.service.BusName(BUS_NAME, bus)
    print('ready', flush=True)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, 15, loop.quit)
    loop.run()
    del manager, name
    return 0


if __name__ == '__main__':
    sys.exit(main())
