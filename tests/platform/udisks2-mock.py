#!/usr/bin/python3
"""A stand-in for the UDisks2 daemon, for the automounting tests.

It owns org.freedesktop.UDisks2 on the bus that DBUS_SYSTEM_BUS_ADDRESS names
and plays both the kernel and the daemon on a fixture tree (--system-root): a
device that is plugged in gets its folders under sys/class/block, and a mount
writes the volume's files into the mount folder and a line into
proc/self/mountinfo, so that the tool's drive list sees it as on a real
machine. Unmounting and unplugging take both away again.

Only what the tool uses is there: GetManagedObjects on the object manager, and
Mount and Unmount on a file system. The test drives it through a control
interface of its own on /org/freedesktop/UDisks2 (AddDevice, RemoveDevice,
Calls), and the mock prints "ready" once it owns the name.

A device is a JSON object:
  name     block device ("sdb1"); disk: its whole disk ("sdb", the same name
           for a volume without partitions)
  bus      the drive's ConnectionBus ("usb", "ata", "sdio"); none: no drive
  fs       IdType ("vfat", "ext4"); empty: no file system on it
  label    the mount folder's name below /media/user
  files    {name: text} on the volume
  ignore   HintIgnore
  refuse   a D-Bus error name that Mount answers with
  mounted  mounted by someone else from the start
  others_mount_after_looks
           a desktop automounter that mounts it by itself once the object
           manager has answered this many looks since it was plugged in
  detected_ago_ms
           TimeMediaDetected that long ago; without it the time is unknown (0)
"""

import argparse
import json
import os
import shutil
import sys
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

SERVICE = 'org.freedesktop.UDisks2'
MANAGER_PATH = '/org/freedesktop/UDisks2'
OBJECT_MANAGER = 'org.freedesktop.DBus.ObjectManager'
BLOCK = 'org.freedesktop.UDisks2.Block'
FILESYSTEM = 'org.freedesktop.UDisks2.Filesystem'
DRIVE = 'org.freedesktop.UDisks2.Drive'
CONTROL = 'org.qv58link.test.UDisks2Mock'

SYSFS_PARENTS = {
    'usb': 'pci0000:00/0000:00:14.0/usb2/2-{n}/2-{n}:1.0/host{n}/target{n}:0:0/{n}:0:0:0',
    'ata': 'pci0000:00/0000:00:17.0/ata{n}/host{n}/target{n}:0:0/{n}:0:0:0',
    'sdio': 'platform/soc/mmc_host/mmc{n}/mmc{n}:0001',
    None: 'virtual',
}


def escape_mount_field(path):
    out = []
    for ch in path:
        if ch in ' \t\n\\':
            out.append('\\%03o' % ord(ch))
        else:
            out.append(ch)
    return ''.join(out)


class Device:
    def __init__(self, layout, number):
        self.layout = layout
        self.name = layout['name']
        self.disk = layout.get('disk', self.name)
        self.number = number
        self.mount_point = None
        self.looks = 0
        self.detected = int(time.time() * 1e6) + number  # the drive's identity
        ago = layout.get('detected_ago_ms')
        self.media_detected = 0 if ago is None else int((time.time() * 1000 - ago) * 1000)

    @property
    def block_path(self):
        return '/org/freedesktop/UDisks2/block_devices/' + self.name

    @property
    def drive_path(self):
        return '/org/freedesktop/UDisks2/drives/drive_' + self.disk if self.layout.get('bus') else '/'

    def interfaces(self):
        block = {
            'Device': dbus.ByteArray(('/dev/' + self.name).encode() + b'\0'),
            'PreferredDevice': dbus.ByteArray(('/dev/' + self.name).encode() + b'\0'),
            'Drive': dbus.ObjectPath(self.drive_path),
            'IdUsage': dbus.String('filesystem' if self.layout.get('fs') else ''),
            'IdType': dbus.String(self.layout.get('fs', '')),
            'IdLabel': dbus.String(self.layout.get('label', '')),
            'HintIgnore': dbus.Boolean(self.layout.get('ignore', False)),
            'HintSystem': dbus.Boolean(self.layout.get('bus') != 'usb'),
            'HintAuto': dbus.Boolean(True),
            'ReadOnly': dbus.Boolean(False),
        }
        result = {BLOCK: dbus.Dictionary(block, signature='sv')}
        if self.layout.get('fs'):
            points = [dbus.ByteArray(self.mount_point.encode() + b'\0')] if self.mount_point else []
            result[FILESYSTEM] = dbus.Dictionary(
                {'MountPoints': dbus.Array(points, signature='ay'), 'Size': dbus.UInt64(1 << 20)}, signature='sv')
        return result

    def drive_interfaces(self):
        drive = {
            'ConnectionBus': dbus.String(self.layout['bus']),
            'Removable': dbus.Boolean(self.layout['bus'] in ('usb', 'sdio')),
            'TimeDetected': dbus.UInt64(self.detected),
            'TimeMediaDetected': dbus.UInt64(self.media_detected),
            'Vendor': dbus.String('QUORVANTIX'),
            'Model': dbus.String('QV58-LINK'),
        }
        return {DRIVE: dbus.Dictionary(drive, signature='sv')}


class Machine:
    """The fixture tree: sysfs folders, mount folders and mountinfo."""

    def __init__(self, root):
        self.root = root

    def path(self, relative):
        return os.path.join(self.root, relative.lstrip('/'))

    def plug(self, device):
        parent = SYSFS_PARENTS.get(device.layout.get('bus'), SYSFS_PARENTS[None]).format(n=device.number)
        disk_dir = 'devices/%s/block/%s' % (parent, device.disk)
        os.makedirs(self.path('sys/' + disk_dir), exist_ok=True)
        with open(self.path('sys/%s/removable' % disk_dir), 'w') as f:
            f.write('1\n' if device.layout.get('bus') in ('usb', 'sdio') else '0\n')
        os.makedirs(self.path('sys/class/block'), exist_ok=True)
        links = [(device.disk, disk_dir)]
        if device.name != device.disk:
            part_dir = disk_dir + '/' + device.name
            os.makedirs(self.path('sys/' + part_dir), exist_ok=True)
            with open(self.path('sys/%s/partition' % part_dir), 'w') as f:
                f.write('1\n')
            links.append((device.name, part_dir))
        for name, target in links:
            link = self.path('sys/class/block/' + name)
            if not os.path.lexists(link):
                os.symlink('../../' + target, link)

    def unplug(self, device):
        for name in {device.name, device.disk}:
            link = self.path('sys/class/block/' + name)
            if os.path.lexists(link):
                os.unlink(link)

    def mount(self, device, mount_point):
        folder = self.path(mount_point)
        os.makedirs(folder, exist_ok=True)
        for name, text in device.layout.get('files', {}).items():
            with open(os.path.join(folder, name), 'w') as f:
                f.write(text)
        line = '%d 22 8:%d / %s rw,nosuid,nodev,relatime shared:%d - %s /dev/%s rw,uid=1000,gid=1000\n' % (
            100 + device.number, 16 + device.number, escape_mount_field(mount_point), 100 + device.number,
            device.layout.get('fs'), device.name)
        self.rewrite_mountinfo(lambda lines: lines + [line])

    def unmount(self, device, mount_point):
        suffix = ' /dev/%s ' % device.name
        self.rewrite_mountinfo(lambda lines: [l for l in lines if suffix not in l])
        shutil.rmtree(self.path(mount_point), ignore_errors=True)

    def rewrite_mountinfo(self, change):
        # Written whole and renamed into place: the tool may read it at any moment.
        path = self.path('proc/self/mountinfo')
        with open(path) as f:
            lines = f.readlines()
        with open(path + '.new', 'w') as f:
            f.writelines(change(lines))
        os.replace(path + '.new', path)


class Failure(dbus.DBusException):
    def __init__(self, name, text):
        super().__init__(text, name=name)


class Filesystem(dbus.service.Object):
    def __init__(self, mock, device):
        super().__init__(mock.bus, device.block_path)
        self.mock = mock
        self.device = device

    @dbus.service.method(FILESYSTEM, in_signature='a{sv}', out_signature='s')
    def Mount(self, options):
        self.mock.log('Mount %s %s' % (self.device.name, format_options(options)))
        if self.device.layout.get('refuse'):
            raise Failure(self.device.layout['refuse'], 'Not authorized to perform operation')
        if self.device.mount_point:
            raise Failure('org.freedesktop.UDisks2.Error.AlreadyMounted',
                          'Device /dev/%s is already mounted at `%s\'.' % (self.device.name, self.device.mount_point))
        return self.mock.mount(self.device)

    @dbus.service.method(FILESYSTEM, in_signature='a{sv}', out_signature='')
    def Unmount(self, options):
        self.mock.log('Unmount %s %s' % (self.device.name, format_options(options)))
        if not self.device.mount_point:
            raise Failure('org.freedesktop.UDisks2.Error.NotMounted', 'Device is not mounted')
        self.mock.unmount(self.device)


def format_options(options):
    def text(value):
        if isinstance(value, dbus.Boolean):
            return 'true' if value else 'false'
        return str(value)
    return ','.join('%s=%s' % (key, text(value)) for key, value in sorted(options.items()))


class Mock(dbus.service.Object):
    def __init__(self, bus, machine):
        super().__init__(bus, MANAGER_PATH)
        self.bus = bus
        self.machine = machine
        self.devices = {}
        self.calls = []
        self.look_delay_ms = 0
        self.plugged = 0

    def log(self, text):
        self.calls.append(text)

    def mount(self, device):
        mount_point = '/media/user/' + device.layout.get('label', device.name)
        self.machine.mount(device, mount_point)
        device.mount_point = mount_point
        return mount_point

    def unmount(self, device):
        self.machine.unmount(device, device.mount_point)
        device.mount_point = None

    @dbus.service.signal(OBJECT_MANAGER, signature='oa{sa{sv}}')
    def InterfacesAdded(self, path, interfaces):
        pass

    @dbus.service.signal(OBJECT_MANAGER, signature='oas')
    def InterfacesRemoved(self, path, interfaces):
        pass

    def snapshot(self):
        objects = {}
        for device in self.devices.values():
            objects[dbus.ObjectPath(device.block_path)] = device.interfaces()
            if device.layout.get('bus'):
                objects[dbus.ObjectPath(device.drive_path)] = device.drive_interfaces()
        return dbus.Dictionary(objects, signature='oa{sa{sv}}')

    @dbus.service.method(OBJECT_MANAGER, in_signature='', out_signature='a{oa{sa{sv}}}',
                         async_callbacks=('reply', 'error'))
    def GetManagedObjects(self, reply, error):
        for device in self.devices.values():
            device.looks += 1
            after = device.layout.get('others_mount_after_looks')
            if after is not None and device.looks >= after and not device.mount_point:
                self.log('others mount ' + device.name)
                self.mount(device)
        answer = self.snapshot()
        if self.look_delay_ms:
            # Answered later, with the state as it was when asked, so that
            # looks from several threads overlap.
            GLib.timeout_add(self.look_delay_ms, lambda: reply(answer) and False)
        else:
            reply(answer)

    @dbus.service.method(CONTROL, in_signature='s', out_signature='')
    def AddDevice(self, spec_json):
        layout = json.loads(spec_json)
        self.plugged += 1
        device = Device(layout, self.plugged)
        self.devices[device.name] = device
        self.machine.plug(device)
        if layout.get('fs'):
            device.filesystem = Filesystem(self, device)
        if layout.get('mounted'):
            self.mount(device)
        self.InterfacesAdded(dbus.ObjectPath(device.block_path), device.interfaces())

    @dbus.service.method(CONTROL, in_signature='s', out_signature='')
    def RemoveDevice(self, name):
        device = self.devices.pop(name)
        if device.mount_point:
            # Unplugged while mounted: the mount goes with the device.
            self.machine.unmount(device, device.mount_point)
        self.machine.unplug(device)
        if getattr(device, 'filesystem', None):
            device.filesystem.remove_from_connection()
        self.InterfacesRemoved(dbus.ObjectPath(device.block_path), list(device.interfaces().keys()))

    @dbus.service.method(CONTROL, in_signature='u', out_signature='')
    def SetLookDelay(self, ms):
        self.look_delay_ms = int(ms)

    @dbus.service.method(CONTROL, in_signature='', out_signature='as')
    def Calls(self):
        return dbus.Array(self.calls, signature='s')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--system-root', required=True)
    args = parser.parse_args()

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    mock = Mock(bus, Machine(args.system_root))
    # A mock of an earlier test may not have left the bus yet: wait our turn.
    loop = GLib.MainLoop()
    bus.add_signal_receiver(lambda name: print('ready', flush=True), 'NameAcquired', 'org.freedesktop.DBus',
                            'org.freedesktop.DBus', '/org/freedesktop/DBus', arg0=SERVICE)
    name = dbus.service.BusName(SERVICE, bus)
    try:
        loop.run()
    finally:
        del name


if __name__ == '__main__':
    sys.exit(main())
