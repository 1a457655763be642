# -*- coding: utf-8 -*-
# Copyright: 2026 Tarsel developers

"""Runs tarsel-cli with --json on the managed host and reads its result object.

tarsel-cli writes one JSON object a line on standard output: events while it works
and, last, the result ({"event": "result", "exit": N, "outcome": ..., ...}). Its exit
status and the result's "outcome" say what happened; "error" says it in words.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

# The options every module of the collection takes.
CLI_ARGUMENT_SPEC = dict(
    port=dict(type='str', required=True),
    cli=dict(type='str', default='tarsel-cli'),
)


def find_cli(module):
    """The program to run: a path as given, or a name looked up on the PATH."""
    cli = module.params['cli']
    if os.sep in cli:
        path = os.path.expanduser(cli)
        if not (os.path.isfile(path) and os.access(path, os.X_OK)):
            module.fail_json(msg='%s is not an executable program' % cli)
        return path
    # Fails the module, naming the program, when it is not installed.
    return module.get_bin_path(cli, required=True)


def events_of(stdout):
    """The JSON objects of standard output, one a line; other lines are left out."""
    events = []
    for line in stdout.splitlines():
        try:
            event = json.loads(line)
        except ValueError:
            continue
        if isinstance(event, dict):
            events.append(event)
    return events


def run_cli(module, command):
    """Runs `tarsel-cli --json --port PORT COMMAND...` and returns (exit status, result,
    messages): the result object and the texts of the messages before it, in which the
    program says what it did step by step ("header: Header TextColor: ...").

    A program that leaves no result object (not tarsel-cli, or one that crashed)
    fails the module with what it wrote on standard error.
    """
    argv = [find_cli(module), '--json', '--no-progress', '--port', module.params['port']] + list(command)
    rc, stdout, stderr = module.run_command(argv, check_rc=False)
    events = events_of(stdout)
    result = events[-1] if events and events[-1].get('event') == 'result' else None
    messages = [e.get('text', '') for e in events if e.get('event') == 'message']
    if result is None:
        module.fail_json(msg='%s left no result (exit status %d): %s'
                         % (argv[0], rc, stderr.strip() or stdout.strip() or 'no output'),
                         rc=rc, cmd=argv, stdout=stdout, stderr=stderr)
    return rc, result, messages


def fail_with(module, rc, result, **fields):
    """Fails the module with tarsel-cli's own error text and its outcome."""
    message = result.get('error') or 'tarsel-cli %s failed (exit status %d, %s)' % (
        result.get('command', ''), rc, result.get('outcome', 'no outcome'))
    if 'port' in result:
        fields['port'] = result['port']
    module.fail_json(msg=message, outcome=result.get('outcome'), rc=rc, **fields)
