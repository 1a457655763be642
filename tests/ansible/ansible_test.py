#!/usr/bin/env python3
"""Runs the tarsel.display collection under Ansible, for ctest.

    ansible_test.py playbook --collections DIR --cli TARSEL_CLI --sim TARSEL_DISPLAY_SIM
                             [--display NAME=SIM_ARGS ...] PLAYBOOK
        Starts the virtual displays (each registered as NAME in a private
        XDG_RUNTIME_DIR), runs PLAYBOOK on localhost with the variables cli, work and
        ports (NAME -> path), and stops the displays again, also when the playbook or
        this script fails. Exit status: the playbook's.

    ansible_test.py doc --collections DIR --version X.Y [--readme README.md ...]
        ansible-doc of every module: options as the module declares them; examples,
        and the playbooks of the READMEs, that use only documented options; galaxy.yml
        of the project's version, and a collection that ansible-galaxy builds.

Everything Ansible and tarsel-cli write (home, temporary files, remembered speeds)
goes to a scratch folder that is removed at the end.
"""

import argparse
import ctypes
import json
import os
import re
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile

import yaml

COLLECTION = ('tarsel', 'display')
PLAYBOOK_TIMEOUT_S = 240
SIM_START_TIMEOUT_S = 30


def scratch_environment(root, collections):
    """An environment that keeps Ansible and tarsel-cli inside `root`."""
    os.makedirs(os.path.join(root, 'run'), mode=0o700)  # the virtual-port folder must be private
    for d in ('home', 'state', 'config', 'cache', 'data', 'ansible-local', 'ansible-remote', 'work'):
        os.makedirs(os.path.join(root, d))
    config = os.path.join(root, 'ansible.cfg')
    with open(config, 'w', encoding='utf-8') as f:
        f.write('[defaults]\n')
    env = {
        'PATH': os.environ.get('PATH', '/usr/bin:/bin'),
        # Ansible refuses to run without a UTF-8 locale.
        'LC_ALL': 'C.UTF-8',
        'LANG': 'C.UTF-8',
        'HOME': os.path.join(root, 'home'),
        'XDG_RUNTIME_DIR': os.path.join(root, 'run'),
        'XDG_STATE_HOME': os.path.join(root, 'state'),
        'XDG_CONFIG_HOME': os.path.join(root, 'config'),
        'XDG_CACHE_HOME': os.path.join(root, 'cache'),
        'XDG_DATA_HOME': os.path.join(root, 'data'),
        'ANSIBLE_CONFIG': config,
        'ANSIBLE_LOCAL_TEMP': os.path.join(root, 'ansible-local'),
        'ANSIBLE_REMOTE_TEMP': os.path.join(root, 'ansible-remote'),
        # Only the checkout's collection, never an installed one.
        'ANSIBLE_COLLECTIONS_PATH': collections,
        'ANSIBLE_COLLECTIONS_SCAN_SYS_PATH': 'false',
        'ANSIBLE_PYTHON_INTERPRETER': sys.executable,
        'ANSIBLE_NOCOLOR': '1',
        'ANSIBLE_RETRY_FILES_ENABLED': 'false',
        'ANSIBLE_DEPRECATION_WARNINGS': 'false',
        'PYTHONDONTWRITEBYTECODE': '1',
    }
    return env


def die_with_parent():
    """Runs in the child: a virtual display must not outlive this script, even killed."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


class VirtualDisplays:
    """The virtual displays of one run; stop() ends every one that was started."""

    def __init__(self, sim, env, root):
        self.sim = sim
        self.env = env
        self.root = root
        self.running = []  # (name, process, log path)

    def start(self, name, args):
        log_path = os.path.join(self.root, 'sim-%s.log' % name)
        with open(log_path, 'wb') as log:
            process = subprocess.Popen([self.sim] + shlex.split(args) + ['--name', name],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log,
                                       env=self.env, preexec_fn=die_with_parent)
        self.running.append((name, process, log_path))
        # The display prints the path it registered first, once it listens.
        ready, _, _ = select.select([process.stdout], [], [], SIM_START_TIMEOUT_S)
        line = process.stdout.readline().decode('utf-8', 'replace').strip() if ready else ''
        expected = os.path.join(self.env['XDG_RUNTIME_DIR'], 'tarsel', name)
        if line != expected or not os.path.exists(expected):
            raise RuntimeError('the virtual display %s did not come up (it printed %r, expected %s)'
                               % (name, line, expected))
        return expected

    def stop(self, show_logs):
        for name, process, log_path in self.running:
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
            process.stdout.close()
            if show_logs:
                with open(log_path, 'rb') as log:
                    tail = log.read()[-4000:].decode('utf-8', 'replace')
                print('--- virtual display %s (exit %s), last lines of its log:\n%s'
                      % (name, process.returncode, tail), flush=True)
        self.running = []


def run_playbook(options):
    root = tempfile.mkdtemp(prefix='tarsel-ansible-')
    env = scratch_environment(root, options.collections)
    displays = VirtualDisplays(options.sim, env, root)
    status = 1
    try:
        ports = {}
        for display in options.display:
            name, _, args = display.partition('=')
            ports[name] = displays.start(name, args)
        variables = os.path.join(root, 'vars.json')
        with open(variables, 'w', encoding='utf-8') as f:
            json.dump({'cli': options.cli, 'work': os.path.join(root, 'work'), 'ports': ports}, f)
        argv = ['ansible-playbook', '-i', 'localhost,', '-c', 'local', '-e', '@' + variables, options.playbook]
        print('+ ' + ' '.join(shlex.quote(a) for a in argv), flush=True)
        try:
            status = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, timeout=PLAYBOOK_TIMEOUT_S,
                                    preexec_fn=die_with_parent).returncode
        except subprocess.TimeoutExpired:
            print('ansible-playbook did not finish within %d s' % PLAYBOOK_TIMEOUT_S, flush=True)
            status = 1
    finally:
        displays.stop(show_logs=status != 0)
        shutil.rmtree(root, ignore_errors=True)
    return status


# ---------------------------------------------------------------- documentation

class DeclaredOptions(Exception):
    """Carries what a module hands AnsibleModule, in place of running it."""

    def __init__(self, argument_spec, supports_check_mode=False, **_):
        super().__init__('argument_spec')
        self.argument_spec = argument_spec
        self.supports_check_mode = supports_check_mode


def declared_options(collections, module):
    """The options (argument_spec) and check-mode support a module declares, read by calling its
    main() with an AnsibleModule that only records them."""
    sys.dont_write_bytecode = True  # no __pycache__ in the checkout
    sys.path.insert(0, collections)
    import importlib
    import ansible.module_utils.basic as basic
    saved = basic.AnsibleModule

    def record(*args, **kwargs):
        raise DeclaredOptions(*args, **kwargs)
    basic.AnsibleModule = record
    try:
        code = importlib.import_module('ansible_collections.%s.%s.plugins.modules.%s' % (COLLECTION + (module,)))
        try:
            code.main()
        except DeclaredOptions as declared:
            return declared
        raise AssertionError('%s: main() never made an AnsibleModule' % module)
    finally:
        basic.AnsibleModule = saved
        sys.path.remove(collections)


def tasks_of(document):
    """The tasks of a YAML document: a play list or a task list."""
    tasks = []
    for item in document or []:
        if isinstance(item, dict) and 'tasks' in item:
            tasks += item['tasks']
        elif isinstance(item, dict):
            tasks.append(item)
    return tasks


def misused(tasks, options_of, where):
    """What is wrong in tasks that use the collection's modules: an unknown module, an
    undocumented option, a required option left out."""
    problems = []
    prefix = '.'.join(COLLECTION) + '.'
    for task in tasks:
        for key, arguments in task.items():
            if not key.startswith(prefix):
                continue
            if key not in options_of:
                problems.append('%s: no module %s' % (where, key))
                continue
            documented = options_of[key]
            required = {o for o, d in documented.items() if d.get('required')}
            unknown = set(arguments or {}) - set(documented)
            missing = required - set(arguments or {})
            if unknown or missing:
                problems.append('%s: %s with unknown options %s, without required %s'
                                % (where, key, sorted(unknown), sorted(missing)))
    return problems


def check_docs(options):
    root = tempfile.mkdtemp(prefix='tarsel-ansible-doc-')
    env = scratch_environment(root, options.collections)
    problems = []
    try:
        folder = os.path.join(options.collections, 'ansible_collections', *COLLECTION)
        modules = sorted(f[:-3] for f in os.listdir(os.path.join(folder, 'plugins', 'modules'))
                         if f.endswith('.py') and not f.startswith('_'))
        names = ['.'.join(COLLECTION + (m,)) for m in modules]
        options_of, examples = {}, {}
        listed = subprocess.run(['ansible-doc', '--json', '-l', '.'.join(COLLECTION)], env=env,
                                capture_output=True, text=True, check=True)
        if sorted(json.loads(listed.stdout)) != names:
            problems.append('ansible-doc -l lists %s, not %s' % (sorted(json.loads(listed.stdout)), names))

        for module, name in zip(modules, names):
            # The text a user reads, then the parsed form.
            text = subprocess.run(['ansible-doc', name], env=env, capture_output=True, text=True)
            if text.returncode != 0 or text.stderr.strip() or '> %s' % name.upper() not in text.stdout:
                problems.append('ansible-doc %s: exit %d, %s' % (name, text.returncode, text.stderr.strip()))
                continue
            parsed = subprocess.run(['ansible-doc', '--json', name], env=env, capture_output=True, text=True, check=True)
            entry = json.loads(parsed.stdout)[name]
            doc = entry['doc']
            module_options = declared_options(options.collections, module)

            documented = doc.get('options', {})
            if sorted(documented) != sorted(module_options.argument_spec):
                problems.append('%s: options documented %s, declared %s'
                                % (name, sorted(documented), sorted(module_options.argument_spec)))
            for option, declared in module_options.argument_spec.items():
                d = documented.get(option, {})
                for field, fallback in (('type', 'str'), ('required', False), ('default', None)):
                    if d.get(field, fallback) != declared.get(field, fallback):
                        problems.append('%s: option %s: %s documented %r, declared %r'
                                        % (name, option, field, d.get(field, fallback), declared.get(field, fallback)))
            check_mode = doc.get('attributes', {}).get('check_mode', {}).get('support')
            if (check_mode == 'full') != module_options.supports_check_mode:
                problems.append('%s: check mode documented %r, declared %r'
                                % (name, check_mode, module_options.supports_check_mode))
            if not entry.get('return'):
                problems.append('%s: no return values documented' % name)

            options_of[name] = documented
            examples[name] = yaml.safe_load(entry.get('examples') or '') or []

        # The modules' own examples, and the playbooks of the READMEs.
        for name, tasks in examples.items():
            if not any(name in task for task in tasks):
                problems.append('%s: no example uses the module' % name)
            problems += misused(tasks, options_of, '%s EXAMPLES' % name)
        for readme in options.readme + [os.path.join(folder, 'README.md')]:
            with open(readme, encoding='utf-8') as f:
                blocks = re.findall(r'^```yaml\n(.*?)^```$', f.read(), re.M | re.S)
            for block in blocks:
                problems += misused(tasks_of(yaml.safe_load(block)), options_of, readme)

        with open(os.path.join(folder, 'galaxy.yml'), encoding='utf-8') as f:
            galaxy = yaml.safe_load(f)
        wanted = options.version if options.version.count('.') == 2 else options.version + '.0'
        if galaxy.get('version') != wanted:
            problems.append('galaxy.yml: version %s, the project is %s' % (galaxy.get('version'), wanted))
        built = subprocess.run(['ansible-galaxy', 'collection', 'build', '--output-path', os.path.join(root, 'work'),
                                folder], env=env, capture_output=True, text=True)
        archive = os.path.join(root, 'work', '%s-%s-%s.tar.gz' % (COLLECTION + (galaxy.get('version'),)))
        if built.returncode != 0 or not os.path.isfile(archive):
            problems.append('ansible-galaxy collection build: exit %d, %s %s'
                            % (built.returncode, built.stdout.strip(), built.stderr.strip()))
    finally:
        shutil.rmtree(root, ignore_errors=True)

    for p in problems:
        print(p)
    if not problems:
        print('%d modules documented as they are declared' % len(modules))
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest='action', required=True)
    play = sub.add_parser('playbook')
    play.add_argument('--collections', required=True)
    play.add_argument('--cli', required=True)
    play.add_argument('--sim', required=True)
    play.add_argument('--display', action='append', default=[])
    play.add_argument('playbook')
    doc = sub.add_parser('doc')
    doc.add_argument('--collections', required=True)
    doc.add_argument('--version', required=True)
    doc.add_argument('--readme', action='append', default=[])
    options = parser.parse_args()

    # ctest ends a test that runs too long with SIGTERM or SIGKILL: stop the displays first.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    if options.action == 'playbook':
        return run_playbook(options)
    return check_docs(options)


if __name__ == '__main__':
    sys.exit(main())
