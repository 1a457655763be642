#!/usr/bin/python3
# -*- coding: utf-8 -*-
# Copyright: 2026 Tarsel developers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: info
short_description: Find a customer display on a serial port
version_added: 3.1.0
description:
  - Finds the customer display on a serial port of the managed host with
    C(tarsel-cli detect), trying the speed it was last found at on that port first,
    then the others, and returns its model, firmware version and line speed and
    what the system knows of the port.
  - The display is only asked, never cleared or changed.
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  platform:
    platforms: posix
options:
  port:
    description:
      - The display's port on the managed host, a device path (C(/dev/ttyUSB0)) or a
        stable name (C(/dev/serial/by-id/...)).
    type: str
    required: true
  cli:
    description:
      - The C(tarsel-cli) program to run, a path or a name looked up on the PATH.
    type: str
    default: tarsel-cli
notes:
  - The user the module runs as must be able to open the port (on Debian, a member of
    the C(dialout) group).
  - Runs C(tarsel-cli --json detect); the speed the display was found at is remembered
    on the managed host, so that the next command finds it sooner.
seealso:
  - module: tarsel.display.settings
author:
  - Tarsel developers (@tarsel)
'''

EXAMPLES = r'''
- name: Find the display on the till's adapter
  tarsel.display.info:
    port: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0
  register: display

- name: Say which display it is
  ansible.builtin.debug:
    msg: "{{ display.model }}, firmware {{ display.firmware }}, {{ display.baud }} bit/s"
'''

RETURN = r'''
model:
  description: The display's model.
  returned: success
  type: str
  sample: KT710-II
firmware:
  description: The firmware version the display reports; null for the models that report none.
  returned: success
  type: int
  sample: 12
baud:
  description: The line speed in bit/s at which the display answered.
  returned: success
  type: int
  sample: 38400
port:
  description: The port's path as it was opened.
  returned: when the port was chosen
  type: str
  sample: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0
stable_name:
  description: The port's stable name (the C(/dev/serial/by-id) link of a USB adapter), under which its speed is remembered.
  returned: success
  type: str
  sample: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0
device:
  description: The device the port's name leads to.
  returned: success, when the port is one the system lists
  type: str
  sample: /dev/ttyUSB0
description:
  description: What the system knows of the port (maker, product, serial number of an adapter).
  returned: success, when the port is one the system lists
  type: str
  sample: FTDI FT232R USB UART, serial A1B2C3
serial:
  description: The USB adapter's serial number; null when unknown.
  returned: success, when the port is one the system lists
  type: str
  sample: A1B2C3
outcome:
  description:
    - What C(tarsel-cli) reports, C(ok) on success. On failure C(no-display) (nothing answered
      at any speed), C(port-error) (the port cannot be opened), C(hung-up), C(timed-out),
      C(refused), C(cancelled) or C(unusable-input).
  returned: when tarsel-cli ran
  type: str
  sample: ok
messages:
  description: What C(tarsel-cli) said on the way, in its words, one text a message.
  returned: when tarsel-cli ran
  type: list
  elements: str
  sample: ["No display answered on /dev/ttyUSB0 (tried 9600, 19200, 38400, 57600, 115200 bit/s)."]
rc:
  description: The exit status of C(tarsel-cli).
  returned: failure
  type: int
  sample: 4
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarsel.display.plugins.module_utils.tarsel_cli import (
    CLI_ARGUMENT_SPEC,
    fail_with,
    run_cli,
)


def main():
    module = AnsibleModule(argument_spec=dict(CLI_ARGUMENT_SPEC), supports_check_mode=True)

    rc, result, messages = run_cli(module, ['detect'])
    if rc != 0:
        fail_with(module, rc, result, messages=messages)

    module.exit_json(
        changed=False,
        model=result.get('model'),
        firmware=result.get('version'),
        baud=result.get('baud'),
        port=result.get('port'),
        stable_name=result.get('stable-name'),
        device=result.get('device'),
        description=result.get('description'),
        serial=result.get('serial'),
        outcome=result.get('outcome'),
        messages=messages,
    )


if __name__ == '__main__':
    main()
