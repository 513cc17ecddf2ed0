#!/usr/bin/python3
# Adds the organisation's web extension to a browser's force-install policy, or
# takes it out again, keeping every other policy and entry the machine has.
DOCUMENTATION = r"""
module: ostrela_browser_policy
short_description: Force-installs a web extension by the browsers' own policy files
options:
  kind:
    description: C(chromium) for a Chromium-family managed-policy folder, C(firefox) for a policies.json.
    required: true
    choices: [chromium, firefox]
  path:
    description: The managed-policy folder (chromium) or the policies.json file (firefox).
    required: true
  entries:
    description: >
      chromium, a list of "id;update URL"; firefox, a mapping of add-on id to its
      ExtensionSettings entry. With C(state=absent) only the ids count.
    required: true
  own_file:
    description: The file of the folder that holds the list when no other file sets it (chromium).
    default: ostrela.json
  state:
    choices: [present, absent]
    default: present
"""
import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule

FORCELIST = "ExtensionInstallForcelist"


def read_json(module, path, strict=True):
    """The object in path, None when there is no such file. Anything else fails the task, or,
    not strict, is skipped with a warning, as the browser skips it."""
    try:
        with open(path, encoding="utf-8") as f:
            value = json.load(f)
        if isinstance(value, dict):
            return value
        problem = "not a JSON object"
    except FileNotFoundError:
        return None
    except (OSError, ValueError) as error:
        problem = "cannot be read as JSON: %s" % error
    if strict:
        module.fail_json(msg="%s is left as it is: %s" % (path, problem))
    module.warn("%s is skipped, as the browser skips it: %s" % (path, problem))
    return None


def write_json(module, path, value):
    """Replaces path whole; an existing file keeps its owner and mode."""
    folder = os.path.dirname(path)
    os.makedirs(folder, mode=0o755, exist_ok=True)
    handle, temporary = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path))
    with os.fdopen(handle, "w", encoding="utf-8") as f:
        json.dump(value, f, indent=2, sort_keys=True)
        f.write("\n")
    os.chmod(temporary, 0o644)
    module.atomic_move(temporary, path)


def remove_file(path, folders):
    """Removes path, then that many folders above it while nothing else is left in them."""
    os.remove(path)
    folder = os.path.dirname(path)
    for _ in range(folders):
        try:
            os.rmdir(folder)
        except OSError:
            break
        folder = os.path.dirname(folder)


def chromium_changes(module, folder, entries, own_file, present):
    """The files to write (path -> object) and to remove. The browser takes a policy from one
    file of the folder, so when the administrator's files already set the list, the extension
    joins their lists rather than competing with a file of its own."""
    ids = {entry.split(";", 1)[0] for entry in entries}
    own = os.path.join(folder, own_file)
    names = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    theirs = {}
    for name in names:
        path = os.path.join(folder, name)
        if name.endswith(".json") and path != own and os.path.isfile(path):
            policy = read_json(module, path, strict=False)
            if policy is not None and isinstance(policy.get(FORCELIST), list):
                theirs[path] = policy
    writes, removals = {}, []
    for path, policy in theirs.items():
        listed = policy[FORCELIST]
        kept = [e for e in listed if not isinstance(e, str) or e.split(";", 1)[0] not in ids]
        if present:
            have = {e.split(";", 1)[0] for e in listed if isinstance(e, str)}
            kept = listed + [e for e in entries if e.split(";", 1)[0] not in have]
        if kept != listed:
            writes[path] = dict(policy, **{FORCELIST: kept})
    if present and not theirs:
        if read_json(module, own, strict=False) != {FORCELIST: entries}:
            writes[own] = {FORCELIST: entries}
    elif os.path.lexists(own):
        removals.append(own)
    return writes, removals


def firefox_changes(module, path, entries, present):
    policies = read_json(module, path)
    original = json.dumps(policies, sort_keys=True)
    document = policies if policies is not None else {}
    inner = document.setdefault("policies", {})
    settings = inner.setdefault("ExtensionSettings", {}) if isinstance(inner, dict) else None
    if not isinstance(settings, dict):
        module.fail_json(msg="%s: policies.ExtensionSettings is not an object, so it is left as it is" % path)
    for extension_id, setting in entries.items():
        if present:
            settings[extension_id] = setting
        else:
            settings.pop(extension_id, None)
    if not settings:
        del inner["ExtensionSettings"]
    if not inner:
        del document["policies"]
    if not document:
        return ({}, [path]) if policies is not None else ({}, [])
    return ({path: document}, []) if json.dumps(document, sort_keys=True) != original else ({}, [])


def main():
    module = AnsibleModule(
        argument_spec=dict(
            kind=dict(required=True, choices=["chromium", "firefox"]),
            path=dict(required=True, type="path"),
            entries=dict(required=True, type="raw"),
            own_file=dict(default="ostrela.json"),
            state=dict(default="present", choices=["present", "absent"]),
        ),
        supports_check_mode=True,
    )
    p = module.params
    present = p["state"] == "present"
    entries = p["entries"]
    if p["kind"] == "chromium" and not (isinstance(entries, list) and all(isinstance(e, str) for e in entries)):
        module.fail_json(msg="entries: a list of strings for chromium")
    if p["kind"] == "firefox" and not isinstance(entries, dict):
        module.fail_json(msg="entries: a mapping of add-on ids for firefox")
    if p["kind"] == "chromium":
        writes, removals = chromium_changes(module, p["path"], entries, p["own_file"], present)
    else:
        writes, removals = firefox_changes(module, p["path"], entries, present)
    if not module.check_mode:
        for path, value in writes.items():
            write_json(module, path, value)
        # .../chrome/policies/managed/ostrela.json, .../firefox/policies/policies.json
        for path in removals:
            remove_file(path, 3 if p["kind"] == "chromium" else 2)
    module.exit_json(changed=bool(writes or removals), written=sorted(writes), removed=removals)


if __name__ == "__main__":
    main()
