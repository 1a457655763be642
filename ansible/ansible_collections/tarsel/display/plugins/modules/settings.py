#!/usr/bin/python3
# -*- coding: utf-8 -*-
# Copyright: 2026 Tarsel developers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: settings
short_description: Bring a customer display's settings to those of a settings file
version_added: 3.1.0
description:
  - Reads the settings of the customer display on a serial port of the managed host,
    compares them key by key with the keys a settings file holds, sends only the
    settings groups whose keys differ (the baud rate last) and reads them back, with
    C(tarsel-cli settings apply).
  - 'Keys the file does not hold keep the display''s values, so a partial file such as
    C({"lun_time": 6, "tp_font_rgb": 31}) changes only those two settings.'
  - Nothing is sent, and the task is not changed, when the display already holds the file.
  - The task fails when a group is refused or when the display does not hold the file
    after it was sent.
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
    details: The display is read and compared; nothing is sent.
  diff_mode:
    support: full
    details: "The differing settings as C(key: value) lines, the display's values before, the file's after."
  platform:
    platforms: posix
options:
  port:
    description:
      - The display's port on the managed host, a device path (C(/dev/ttyUSB0)) or a
        stable name (C(/dev/serial/by-id/...)).
    type: str
    required: true
  src:
    description:
      - The settings file on the managed host, as the window's "Setting file" button
        or C(tarsel-cli settings get -o FILE) saves it; a JSON object of up to 21 keys,
        texts in the Windows-1252 code page.
      - Copy it there first (M(ansible.builtin.copy)); a file that cannot be used fails
        the task with the outcome C(unusable-input) before the display is touched.
    type: path
    required: true
  cli:
    description:
      - The C(tarsel-cli) program to run, a path or a name looked up on the PATH.
    type: str
    default: tarsel-cli
notes:
  - The user the module runs as must be able to open the port (on Debian, a member of
    the C(dialout) group).
  - A file that changes the baud rate moves the display to its new speed last; the
    speed it is found at is remembered on the managed host, so that the next run
    finds it at once.
seealso:
  - module: tarsel.display.info
author:
  - Tarsel developers (@tarsel)
'''

EXAMPLES = r'''
- name: Put the shop's settings file on the till
  ansible.builtin.copy:
    src: files/shop.json
    dest: /var/lib/tarsel/shop.json
    mode: "0644"

- name: The customer display holds the shop's settings
  tarsel.display.settings:
    port: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0
    src: /var/lib/tarsel/shop.json
  register: applied

- name: What would change, without sending anything
  tarsel.display.settings:
    port: /dev/ttyUSB0
    src: /var/lib/tarsel/shop.json
  check_mode: true
  diff: true
'''

RETURN = r'''
changed:
  description: Whether settings were sent to the display (in check mode, whether they would be).
  returned: always
  type: bool
  sample: true
verified:
  description:
    - Whether the display holds every key of the file, read back after sending (in check
      mode, as read before).
  returned: when the display was read
  type: bool
  sample: true
differences:
  description: The settings in which the display differed from the file before anything was sent.
  returned: when the display was read
  type: list
  elements: dict
  contains:
    key:
      description: The key, as in the settings file.
      type: str
      sample: lun_time
    caption:
      description: The setting's caption in the window, its page first.
      type: str
      sample: Play Setting / Play interval
    display:
      description: The display's value, written as the window shows it.
      type: str
      sample: 1 s
    file:
      description: The file's value, written as the window shows it.
      type: str
      sample: 6 s
  sample: [{"key": "lun_time", "caption": "Play Setting / Play interval", "display": "1 s", "file": "6 s"}]
groups:
  description: The settings groups sent (in check mode, to be sent), in the order they go out.
  returned: when the display was read
  type: list
  elements: str
  sample: [header, play-list]
remaining:
  description: The settings that still differ after the read-back, in the form of I(differences).
  returned: when the display does not hold the file after it was sent
  type: list
  elements: dict
model:
  description: The display's model.
  returned: when the display was found
  type: str
  sample: KT710-II
baud:
  description: The line speed in bit/s at which the display was found (before any new baud rate).
  returned: when the display was found
  type: int
  sample: 38400
port:
  description: The port's path as it was opened.
  returned: when the port was chosen
  type: str
  sample: /dev/ttyUSB0
outcome:
  description:
    - What C(tarsel-cli) reports, C(ok) on success. On failure C(refused) (a group was
      refused or the read-back differs), C(timed-out), C(no-display), C(port-error),
      C(hung-up), C(cancelled) or C(unusable-input) (the file).
  returned: when tarsel-cli ran
  type: str
  sample: ok
messages:
  description: What C(tarsel-cli) said on the way, in its words, one text a message.
  returned: when tarsel-cli ran
  type: list
  elements: str
  sample: ["Changed header, play-list; read back: the display holds /var/lib/tarsel/shop.json."]
rc:
  description: The exit status of C(tarsel-cli).
  returned: failure
  type: int
  sample: 1
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarsel.display.plugins.module_utils.tarsel_cli import (
    CLI_ARGUMENT_SPEC,
    fail_with,
    run_cli,
)


def diff_of(differences, port, src):
    """Ansible's diff: the differing settings as `key: value` lines, display before, file after."""
    before = ''.join('%s: %s\n' % (d.get('key'), d.get('display')) for d in differences)
    after = ''.join('%s: %s\n' % (d.get('key'), d.get('file')) for d in differences)
    return dict(before_header='display on %s' % port, after_header=src, before=before, after=after)


def main():
    argument_spec = dict(CLI_ARGUMENT_SPEC)
    argument_spec.update(src=dict(type='path', required=True))
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    src = module.params['src']

    command = ['settings', 'apply', src]
    if module.check_mode:
        command.append('--check')
    rc, result, messages = run_cli(module, command)

    # Only what tarsel-cli got to: a file it could not use leaves no display to describe.
    fields = dict(changed=bool(result.get('changed', False)), messages=messages)
    for name in ('verified', 'differences', 'groups', 'remaining', 'model', 'baud'):
        if name in result:
            fields[name] = result[name]
    differences = result.get('differences', [])
    if module._diff and differences:
        fields['diff'] = diff_of(differences, result.get('port') or module.params['port'], src)

    # With --check a difference is no failure: tarsel-cli exits 0 whenever it could
    # read the display and the file.
    if rc != 0:
        fail_with(module, rc, result, **fields)
    module.exit_json(outcome=result.get('outcome'), port=result.get('port'), **fields)


if __name__ == '__main__':
    main()
