#!/bin/sh
# Runs a window test on a virtual display of its own (Xvfb); listing a test
# program's cases needs none. Xvfb has no GPU: GTK draws with cairo rather than
# load Mesa's software GL, whose driver leaks a block that LeakSanitizer reports
# once it is unloaded at exit. No accessibility bus either.
export GTK_A11Y=none GDK_DEBUG=gl-disable
export LSAN_OPTIONS="suppressions=$(dirname "$0")/window_tests.lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
case " $* " in *" --gtest_list_tests "*) exec "$@" ;; esac
exec xvfb-run -a "$@"
