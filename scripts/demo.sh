#!/usr/bin/env bash
# The main job on a built-in default: builds OstrelaExtension and shows it
# answering native messages over the real protocol. Sample managed
# preferences and an App Group copy live in a temporary folder; a sample
# agent listens on 127.0.0.1:47653. Nothing outside the temporary folder is read or written:
# as root, the host runs in a private mount namespace in which the temporary
# folder of forced preferences stands in for /etc/ostrela/managed-preferences.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh --build-only

build=build/demo
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTRELA_BUILD_TESTS=OFF \
  -DOSTRELA_BUILD_BENCHMARKS=OFF -DOSTRELA_BUILD_HOST_APP=OFF >/dev/null
cmake --build "$build" --target OstrelaExtension ostrela-native-client

work=$(mktemp -d)
agent_pid=""
cleanup() {
  [[ -n "$agent_pid" ]] && kill "$agent_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export XDG_CONFIG_HOME="$work/home"
export OSTRELA_LOG_LEVEL=debug
fixed=$(sed -n 's/^OSTRELA_MANAGED_PREFERENCES_DIR:PATH=//p' "$build/CMakeCache.txt")
managed="$work/managed"
forced="$managed/com.ostrela.safari-extension.extension.json"
mkdir -p "$managed"
chmod 755 "$work" "$managed"
source scripts/app_group.sh
group_file="$XDG_CONFIG_HOME/$app_group_file"
mkdir -p "$(dirname "$group_file")"
cat > "$forced" <<'JSON'
{"endpoint": "https://ostrela.example.org/api", "apiToken": "org-token-123",
 "organizationName": "", "enabledServices": ["ldap", "redaction"],
 "Endpiont": "typo in a profile key", "PayloadContent": [{"PayloadType": "com.ostrela"}]}
JSON
# What any user could try: forced values of their own through the environment. No effect.
export XDG_CONFIG_DIRS="$work/forged"
mkdir -p "$XDG_CONFIG_DIRS/ostrela/managed-preferences"
echo '{"apiToken": "forged", "endpoint": "http://forged.example"}' \
  >"$XDG_CONFIG_DIRS/ostrela/managed-preferences/com.ostrela.safari-extension.extension.json"
if [[ $(id -u) == 0 ]]; then
  in_namespace() { tests/support/with_managed_preferences.sh "$fixed" "$managed" "$@"; }
else
  echo "(not root: no mount namespace, so the forced preferences below are not read)"
  in_namespace() { "$@"; }
fi
cat > "$group_file" <<'JSON'
{"organizationName": "Example Org", "machineId": "host-0042", "agentRelaySecret": "demo-secret"}
JSON

echo
echo "== Forced preferences (root's file, seen by the host as $fixed/...):"
cat "$forced"
echo "== App Group copy ($group_file):"
cat "$group_file"
echo

client="$build/apps/ostrela_native_client/ostrela-native-client"
host="$PWD/$build/apps/ostrela_extension/OstrelaExtension"
agent_log="$work/agent.log"
python3 -u scripts/sample_agent.py >"$agent_log" 2>&1 &
agent_pid=$!
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/47653) 2>/dev/null && break
  sleep 0.1
done

# Starts the host for one message, as a browser's sendNativeMessage does, and
# shows the reply, what the agent received and the host's log line.
send() {
  local seen
  seen=$(wc -l <"$agent_log")
  echo "message: $1"
  in_namespace "$client" --executable "$host" "$1" 2>"$work/host.log" | sed -n 's/^<- /reply:   /p'
  tail -n +"$((seen + 1))" "$agent_log"
  sed 's/^[^ ]* /log:     /' "$work/host.log"
  echo
}

echo "== Each message in a new host process, as runtime.sendNativeMessage does:"
echo
send '{"type":"getManagedConfig","id":1}'
send '{"type":"getLdap","host":"com.ostrela.ldap_host","id":2}'
send '{"type":"getToken","host":"com.ostrela.ldap_host","id":"token-3"}'
send '{"type":"scrub","host":"com.ostrela.redaction_host","id":4,"text":"Call me at 555-0100"}'
send '{"type":"getManagedConfig","host":"com.ostrela.ldap_host","id":5}'
send '{"type":"scrub","host":"com.example.unknown","id":6}'
send '{"id":7}'
send '["not", "an", "object"]'
send 'this is not JSON'

echo "== Three messages on one connection, as runtime.connectNative does (replies in completion order):"
in_namespace "$client" --executable "$host" \
  '{"type":"getLdap","host":"com.ostrela.ldap_host","id":"a"}' \
  '{"type":"getManagedConfig","id":"b"}' \
  '{"type":"nonsense","id":"c"}' 2>/dev/null
echo

echo "== With the agent gone:"
kill "$agent_pid"; wait "$agent_pid" 2>/dev/null || true; agent_pid=""
send '{"type":"getToken","host":"com.ostrela.ldap_host","id":"token-8"}'

echo "== A forced file that others could have written is ignored (here: group-writable):"
chmod g+w "$forced"
send '{"type":"getManagedConfig","id":9}'
chmod g-w "$forced"
