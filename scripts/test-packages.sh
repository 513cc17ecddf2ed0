#!/usr/bin/env bash
# Builds the Debian packages the standard way (dpkg-buildpackage with their
# tests) and tests them as an administrator would see them, installed by the
# Ansible role (ansible/roles/ostrela) on this machine: the role refuses a bad
# value and writes nothing; installs both packages with the organisation's ids,
# preferences and forced installs beside the administrator's own browser
# policies; changes nothing on a second run; reports the doctor's failing
# checks and fails on a required one. Then it checks the manifests in every
# system folder of the browser table (browsers/browsers.table), the desktop
# entry, the metainfo, ostrela-doctor --json and the headless Chromium and
# Firefox tests against the installed host; removes the packages with a
# malformed ids file (removal must ignore the ids); and the role's
# state=absent must leave nothing of ours and all of the administrator's.
# Last, a second build with reprotest's variations must give the same .deb
# files (scripts/check-reproducible.sh), and that check must catch a planted
# difference. Needs root (or sudo) and a machine without Ostrela installed.
#   scripts/test-packages.sh [DIR]   DIR: already built .deb files to use
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
ids_file=/etc/ostrela/extension-ids
# What the role writes (besides the packages), and the administrator's policies it must keep.
ours=("$ids_file" /etc/ostrela/managed-preferences/com.ostrela.safari-extension{.extension,}.json
  /etc/chromium/policies/managed/ostrela.json /etc/opt/{chrome,edge}/policies/managed/ostrela.json
  /var/cache/ostrela)
admin_chromium=/etc/chromium/policies/managed/admin-of-the-test.json
admin_firefox=/etc/firefox/policies/policies.json
if dpkg-query -W ostrela-native-host >/dev/null 2>&1 ||
   ls -d "${ours[@]}" $admin_chromium $admin_firefox 2>/dev/null; then
  echo "Ostrela, or a browser policy of this test, is already on this machine; not touching it" >&2
  exit 1
fi
# The system folders the manifests go to: the first system folder of each browser of the
# browser table that has one (what ostrela-native-host-manifests writes).
mapfile -t folders < <(grep -v '^#' browsers/browsers.table |
  awk -F'|' 'NF >= 4 && $4 != "-" { split($4, f, " "); print f[1] }' | sort -u)
if ((${#folders[@]} < 4)); then
  echo "found ${#folders[@]} system manifest folders in browsers/browsers.table; expected at least 4" >&2
  exit 1
fi
out=$(mktemp -d)
lists=$(mktemp -d)
made=()
for folder in /etc/ostrela /etc/chromium/policies /etc/firefox; do [[ -e $folder ]] || made+=("$folder"); done
# The role on this machine with the test's values; the play's output goes to $lists/LOG.
# shellcheck disable=SC2317  # also called from the trap
play() {  # LOG, more ansible-playbook arguments
  local log=$lists/$1
  shift
  $sudo env ANSIBLE_ROLES_PATH=ansible/roles ANSIBLE_NOCOLOR=1 ANSIBLE_LOCALHOST_WARNING=0 ANSIBLE_PIPELINING=1 \
    ANSIBLE_PYTHON_INTERPRETER=auto_silent ansible-playbook -i localhost, -c local \
    ansible/playbook.yml -e @tests/ansible/vars.yml \
    -e "ostrela_packages_dir=$out ostrela_doctor_report_dir=$lists/reports" "$@" >"$log" 2>&1
}
# A run that stops half-way leaves nothing behind, which would make the next run refuse; only
# the folders this run made go.
removed=0
# shellcheck disable=SC2317
cleanup() {
  ((removed)) || play cleanup.log -e ostrela_state=absent || true
  $sudo rm -f $admin_chromium $admin_firefox
  for folder in "${made[@]}"; do [[ ! -d $folder ]] || $sudo find "$folder" -depth -type d -empty -delete; done
  rm -rf "$out" "$lists"
}
trap cleanup EXIT
if [[ -n ${1:-} ]]; then cp "$1"/ostrela-*.deb "$out"; else scripts/build-packages.sh "$out"; fi

fail=0
check() { if eval "$2"; then echo "ok    $1"; else echo "FAIL  $1"; fail=1; fi; }
host=/usr/libexec/ostrela/OstrelaExtension
names=(com.ostrela.ldap_host com.ostrela.redaction_host)

absent=()
for folder in "${folders[@]}"; do [[ -e $folder ]] || absent+=("$folder"); done

# The administrator's own browser policies, which the role joins and must keep.
$sudo install -d -m 0755 "$(dirname $admin_chromium)" "$(dirname $admin_firefox)"
echo '{"ExtensionInstallForcelist": ["aaaabbbbccccddddeeeeffffgggghhhh;https://example.org/crx"],
       "HomepageLocation": "https://example.org/"}' | $sudo tee $admin_chromium "$lists/chromium.json" >/dev/null
echo '{"policies": {"DisableTelemetry": true}}' | $sudo tee $admin_firefox "$lists/firefox.json" >/dev/null
role_start=$SECONDS
check "the role refuses a value of the wrong type and writes nothing" \
  "! play refused.log -e '{\"ostrela_managed_configuration\": {\"organizationId\": 42}}' &&
   grep -q 'organizationId must be a non-empty string, not 42 (int)' $lists/refused.log &&
   ! ls -d ${ours[*]} 2>/dev/null && ! dpkg-query -W ostrela-native-host >/dev/null 2>&1"
check "the role installs and configures" "play applied.log || { tail -n 30 $lists/applied.log; false; }"
# shellcheck disable=SC2317  # called through check's eval
role_wrote() {
  /usr/bin/python3 - "$lists" <<'PYTHON'
import json, os, stat, sys, yaml
lists = sys.argv[1]
values = yaml.safe_load(open("tests/ansible/vars.yml"))
def read(path): return json.load(open(path))
def root_only(path): s = os.stat(path); return s.st_uid == 0 and not s.st_mode & 0o022
ids = values["ostrela_chrome_extension_ids"]
ours = [i + ";https://clients2.google.com/service/update2/crx" for i in ids]
chromium = read(lists + "/chromium.json")
firefox = read(lists + "/firefox.json")
firefox["policies"]["ExtensionSettings"] = {i: {"installation_mode": "force_installed",
    "install_url": values["ostrela_firefox_install_url"]} for i in values["ostrela_firefox_extension_ids"]}
wrong = [what for what, good in [
    ("the preferences", all(read("/etc/ostrela/managed-preferences/%s.json" % d) == values["ostrela_managed_configuration"]
                            and stat.S_IMODE(os.stat("/etc/ostrela/managed-preferences/%s.json" % d).st_mode) == 0o644
                            and root_only("/etc/ostrela/managed-preferences/%s.json" % d)
                            for d in ["com.ostrela.safari-extension", "com.ostrela.safari-extension.extension"])),
    ("the folders", all(root_only(f) for f in ["/etc", "/etc/ostrela", "/etc/ostrela/managed-preferences"])),
    ("the ids", open("/etc/ostrela/extension-ids").read() == "chrome %s\nfirefox %s\n" % (ids[0], values["ostrela_firefox_extension_ids"][0])),
    ("the administrator's Chromium list", read("/etc/chromium/policies/managed/admin-of-the-test.json")
        == dict(chromium, ExtensionInstallForcelist=chromium["ExtensionInstallForcelist"] + ours)),
    ("no second Chromium list", not os.path.exists("/etc/chromium/policies/managed/ostrela.json")),
    ("Chrome's and Edge's", all(read("/etc/opt/%s/policies/managed/ostrela.json" % b) == {"ExtensionInstallForcelist": ours}
                                for b in ["chrome", "edge"])),
    ("Firefox's", read("/etc/firefox/policies/policies.json") == firefox)] if not good]
print("      wrong: " + ", ".join(wrong) if wrong else "", end="")
sys.exit(1 if wrong else 0)
PYTHON
}
check "the role wrote the preferences (root's, 0644), the ids and the forced installs beside the administrator's" role_wrote
check "a second run changes nothing, and a failing required check fails the machine" \
  "! play again.log -e '{\"ostrela_required_checks\": [\"managed preferences\", \"agent\"]}' &&
   grep -Eq '^localhost +: ok=[0-9]+ +changed=0 .* failed=1 ' $lists/again.log &&
   grep -q 'A required check of ostrela-doctor failed' $lists/again.log ||
   { tail -n 30 $lists/again.log; false; }"
# The report the role kept is the doctor's, every failing check of it is in the play's output,
# and the doctor accepted each value the role wrote.
# shellcheck disable=SC2317  # called through check's eval
report_matches() {
  { ostrela-doctor --json || true; } | python3 -c '
import json, sys
lists = sys.argv[1]
kept, fresh = json.load(open(lists + "/reports/localhost.json")), json.load(sys.stdin)
failing = lambda report: [c["area"] + ": " + c["text"] for c in report["checks"] if c["state"] == "failed"]
play = open(lists + "/applied.log").read()
accepted = {c["text"] for c in kept["checks"] if c["area"] == "managed preferences" and c["state"] == "ok"}
keys = ["endpoint", "apiToken", "organizationName", "organizationId", "machineId", "enabledServices"]
good = (failing(kept) == failing(fresh) and all(json.dumps(line)[1:-1] in play for line in failing(kept))
        and all(key + ": accepted" in accepted for key in keys))
sys.exit(0 if good else 1)' "$lists"
}
check "the doctor's report, kept on the controller and in the play's output, matches" report_matches
echo "      (the role's three runs: $((SECONDS - role_start)) s)"
for package in ostrela-native-host ostrela-host; do dpkg -L $package >"$lists/$package"; done
for folder in "${folders[@]}"; do
  for name in "${names[@]}"; do
    check "$folder/$name.json names the installed host" \
      "grep -qF '\"path\": \"$host\"' $folder/$name.json"
  done
done
check "the metainfo validates" \
  "appstreamcli validate --no-net /usr/share/metainfo/com.ostrela.safari-extension.metainfo.xml"
check "the desktop entry validates" \
  "desktop-file-validate /usr/share/applications/com.ostrela.safari-extension.desktop"
# Every line of the doctor's about the system manifests and the installed host is ok,
# and the host it started answered.
# shellcheck disable=SC2317  # called through check's eval
doctor_is_content() {
  { ostrela-doctor --json || true; } | python3 -c '
import json, sys
checks = json.load(sys.stdin)["checks"]
mine = [c for c in checks if c["text"].startswith(tuple(sys.argv[1:]))]
bad = [c for c in mine if c["state"] != "ok"]
answered = [c for c in checks if c["state"] == "ok" and "round trip answered" in c["text"]]
for c in bad: print("      " + c["state"] + ": " + c["text"])
sys.exit(0 if mine and answered and not bad else 1)' "$host" "${folders[@]}"
}
check "ostrela-doctor --json: the system manifests, the installed host answers" doctor_is_content
# The policy file goes to the fixed folder, on a private mount so the real /etc is untouched; the
# browsers' own policies are hidden, as they would force the extension from an address that
# serves nothing.
for browser in chromium firefox; do
  check "the $browser test against the installed host" \
    "$sudo unshare --mount --propagation private sh -c '
       for folder in /etc/ostrela /etc/chromium/policies /etc/firefox/policies; do
         mount -t tmpfs -o mode=0755 ostrela-test \$folder || exit 1
       done &&
       python3 tests/e2e/browser_test.py --browser $browser --installed \
               --managed-dir /etc/ostrela/managed-preferences'"
done

# A malformed line in the ids file must not keep the manifests, nor a glob expand.
# apt waits for a lock that another install holds, rather than failing at once.
apt=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y)
printf 'chrome bad!id\nchrome *\n' | $sudo tee $ids_file >/dev/null
check "removal with a malformed ids file succeeds" \
  "$sudo ${apt[*]} remove ostrela-host ostrela-native-host"
for folder in "${folders[@]}"; do
  check "removing took the manifests from $folder" "! ls $folder/com.ostrela.* 2>/dev/null"
done
for folder in "${absent[@]}"; do
  check "removing took $folder, made by the installation" "[[ ! -e $folder ]]"
done
# shellcheck disable=SC2317  # called through check's eval
same_json() { python3 -c 'import json, sys; sys.exit(json.load(open(sys.argv[1])) != json.load(open(sys.argv[2])))' "$@"; }
check "state=absent purges and leaves nothing of ours, and all of the administrator's" \
  "play removed.log -e ostrela_state=absent && ! ls -d ${ours[*]} 2>/dev/null &&
   [[ ! -e /etc/ostrela || ' ${made[*]} ' != *' /etc/ostrela '* ]] &&
   same_json $lists/chromium.json $admin_chromium && same_json $lists/firefox.json $admin_firefox ||
   { tail -n 30 $lists/removed.log; false; }"
removed=1
left=$(cat "$lists"/ostrela-* | while read -r path; do
  if [[ -d $path && ! -L $path ]]; then [[ $path == *ostrela* ]] && echo "$path"
  elif [[ -e $path || -L $path ]]; then echo "$path"; fi
done)
check "purging left none of the packages' files${left:+: $left}" "[[ -z \"$left\" ]]"

check "a build with reprotest's variations gives the same .deb files" \
  "$sudo scripts/check-reproducible.sh --control '$out' '$lists/reproducible' >'$lists/reprotest.log' 2>&1 ||
   { tail -n 60 '$lists/reprotest.log'; cat '$lists'/reproducible/*.diffoscope.out 2>/dev/null | head -n 200; false; }"
check "the reproducibility check catches a planted build path" "$sudo scripts/check-reproducible.sh --planted"
exit $fail
