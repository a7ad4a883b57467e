'''Fills the gaps of dbusmock's networkmanager template that dial-up tests need.

Loaded into a running template with AddTemplate. Adds, on the main mock object:
  AddDialupProfile(settings_json, secrets_json) -> path
  AddActiveDialup(id, state) -> path      an already active connection
  SetActivationPlan(id, outcomes)         what the next activations of id do
  SetHangUpDelay(ms)                      how long a deactivation takes; -1: never ends
  CallLog() -> as                         "ActivateConnection <id>", ...
  ActiveIds() -> as                       ids of the listed active connections
Outcomes: "ok:MS", "fail:REASON:MS", "hang", "deny", "nodevice"; default "ok:100".
'''

import json

import dbus
import dbusmock
from dbusmock import MOCK_IFACE
from dbusmock.templates import networkmanager
from gi.repository import GLib

MANAGER_OBJ = '/org/freedesktop/NetworkManager'
MANAGER_IFACE = 'org.freedesktop.NetworkManager'
SETTINGS_OBJ = '/org/freedesktop/NetworkManager/Settings'
CSETTINGS_IFACE = 'org.freedesktop.NetworkManager.Settings.Connection'
ACTIVE_IFACE = 'org.freedesktop.NetworkManager.Connection.Active'
IP4_IFACE = 'org.freedesktop.NetworkManager.IP4Config'

ACTIVATING, ACTIVATED, DEACTIVATING, DEACTIVATED = 1, 2, 3, 4
REASON_NONE, REASON_USER_DISCONNECTED = 1, 2


def manager():
    return dbusmock.get_object(MANAGER_OBJ)


def profile_id(path):
    return str(dbusmock.get_object(path).settings['connection']['id'])


def set_active_list(paths):
    manager().Set(MANAGER_IFACE, 'ActiveConnections', dbus.Array(paths, signature='o'))


def set_state(path, state, reason):
    active = dbusmock.get_object(path)
    active.Set(ACTIVE_IFACE, 'State', dbus.UInt32(state))
    active.EmitSignal(ACTIVE_IFACE, 'StateChanged', 'uu', [dbus.UInt32(state), dbus.UInt32(reason)])


def give_ip(nm, path):
    nm.counter += 1
    ip4 = f'/org/freedesktop/NetworkManager/IP4Config/{nm.counter}'
    nm.AddObject(ip4, IP4_IFACE, {
        'AddressData': dbus.Array([{'address': '10.64.0.17', 'prefix': dbus.UInt32(32)}],
                                  signature='a{sv}'),
        'Gateway': '10.64.0.1',
    }, [])
    dbusmock.get_object(path).Set(ACTIVE_IFACE, 'Ip4Config', dbus.ObjectPath(ip4))


def add_active(nm, connection, state):
    nm.counter += 1
    path = f'/org/freedesktop/NetworkManager/ActiveConnection/{nm.counter}'
    settings = dbusmock.get_object(connection).settings['connection']
    nm.AddObject(path, ACTIVE_IFACE, {
        'Id': settings['id'],
        'Type': settings['type'],
        'Uuid': settings['uuid'],
        'Connection': dbus.ObjectPath(connection),
        'SpecificObject': dbus.ObjectPath('/'),
        'Devices': dbus.Array([], signature='o'),
        'State': dbus.UInt32(state),
        'StateFlags': dbus.UInt32(0),
        'Ip4Config': dbus.ObjectPath('/'),
        'Vpn': settings['type'] == 'vpn',
        'Default': False,
        'Default6': False,
    }, [])
    nm.active_ids[path] = str(settings['id'])
    set_active_list(list(nm.Get(MANAGER_IFACE, 'ActiveConnections')) + [dbus.ObjectPath(path)])
    if state == ACTIVATED:
        give_ip(nm, path)
    return path


def remove_active(path):
    listed = [p for p in manager().Get(MANAGER_IFACE, 'ActiveConnections') if p != path]
    set_active_list(listed)
    manager().RemoveObject(path)


def later(ms, action):
    def run():
        action()
        return False
    GLib.timeout_add(ms, run)


def succeed(nm, path):
    give_ip(nm, path)
    set_state(path, ACTIVATED, REASON_NONE)


def fail(path, reason):
    set_state(path, DEACTIVATED, reason)
    remove_active(path)


def activate(nm, connection, _device, _specific):
    if str(connection) not in dbusmock.get_objects():
        raise dbus.exceptions.DBusException('No such connection', name=MANAGER_IFACE + '.UnknownConnection')
    plan = nm.plans.get(profile_id(connection), [])
    outcome = (plan.pop(0) if plan else 'ok:100').split(':')
    if outcome[0] == 'deny':
        raise dbus.exceptions.DBusException('Not authorized to control networking.',
                                            name=MANAGER_IFACE + '.PermissionDenied')
    if outcome[0] == 'nodevice':
        raise dbus.exceptions.DBusException('No suitable device found for this connection.',
                                            name=MANAGER_IFACE + '.ConnectionNotAvailable')
    path = add_active(nm, connection, ACTIVATING)
    if outcome[0] == 'ok':
        later(int(outcome[1]), lambda: succeed(nm, path))
    elif outcome[0] == 'fail':
        later(int(outcome[2]), lambda: fail(path, int(outcome[1])))
    return dbus.ObjectPath(path)


def deactivate(nm, path):
    if path not in nm.Get(MANAGER_IFACE, 'ActiveConnections'):
        raise dbus.exceptions.DBusException('The connection was not active.',
                                            name=MANAGER_IFACE + '.ConnectionNotActive')
    set_state(path, DEACTIVATING, REASON_USER_DISCONNECTED)
    if nm.hangup_ms >= 0:
        later(nm.hangup_ms, lambda: fail(path, REASON_USER_DISCONNECTED))


def load(_mock, _parameters):
    nm = manager()
    nm.plans = {}
    nm.active_ids = {}
    nm.hangup_ms = 200
    nm.counter = 100
    nm.AddMethod(MANAGER_IFACE, 'ActivateConnection', 'ooo', 'o', activate)
    nm.AddMethod(MANAGER_IFACE, 'DeactivateConnection', 'o', '', deactivate)


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='s')
def AddDialupProfile(_self, settings_json, secrets_json):
    settings = json.loads(settings_json)
    for setting in settings.values():
        for key in setting:
            if key.endswith('-flags'):
                setting[key] = dbus.UInt32(setting[key])
    path = networkmanager.SettingsAddConnection(dbusmock.get_object(SETTINGS_OBJ), settings)
    connection = dbusmock.get_object(path)
    connection.dialup_secrets = json.loads(secrets_json)

    def get_secrets(obj, setting):
        secrets = dbus.Dictionary(obj.dialup_secrets.get(str(setting), {}), signature='sv')
        return dbus.Dictionary({setting: secrets}, signature='sa{sv}')
    connection.AddMethod(CSETTINGS_IFACE, 'GetSecrets', 's', 'a{sa{sv}}', get_secrets)
    return path


@dbus.service.method(MOCK_IFACE, in_signature='su', out_signature='s')
def AddActiveDialup(_self, name, state):
    for path in dbusmock.get_object(SETTINGS_OBJ).Get(
            'org.freedesktop.NetworkManager.Settings', 'Connections'):
        if profile_id(path) == name:
            return add_active(manager(), path, int(state))
    raise dbus.exceptions.DBusException('no profile ' + name)


@dbus.service.method(MOCK_IFACE, in_signature='sas', out_signature='')
def SetActivationPlan(_self, name, outcomes):
    manager().plans[str(name)] = [str(o) for o in outcomes]


@dbus.service.method(MOCK_IFACE, in_signature='i', out_signature='')
def SetHangUpDelay(_self, ms):
    manager().hangup_ms = int(ms)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def CallLog(_self):
    nm = manager()
    lines = []
    for _, method, args in nm.call_log:
        if method == 'ActivateConnection':
            lines.append(f'{method} {profile_id(args[0])}')
        elif method == 'DeactivateConnection':
            lines.append(f'{method} {nm.active_ids.get(str(args[0]), args[0])}')
    return lines


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def ActiveIds(_self):
    nm = manager()
    return [nm.active_ids.get(str(p), str(p)) for p in nm.Get(MANAGER_IFACE, 'ActiveConnections')]
