#!/bin/sh
# Runs a window test on a virtual display of its own (Xvfb) and a D-Bus session
# of its own; listing a test program's cases needs neither. Xvfb has no GPU: GTK
# draws with cairo rather than load Mesa's software GL, whose driver leaks a
# block that LeakSanitizer reports once it is unloaded at exit. GTK keeps off
# the accessibility bus unless a case asks for it (GTK_A11Y=atspi), which the
# session then starts on demand.
export GTK_A11Y=none GDK_DEBUG=gl-disable
export LSAN_OPTIONS="suppressions=$(dirname "$0")/window_tests.lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
case " $* " in *" --gtest_list_tests "*) exec "$@" ;; esac
# -noreset: a server that resets whenever its last client goes (a test's xwininfo, say) refuses
# connections meanwhile.
exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" dbus-run-session -- "$@"
