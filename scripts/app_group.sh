# The App Group store's file below $XDG_CONFIG_HOME, as the executables lay it out
# (FilePreferenceStores::suiteFile with appGroupSuiteName): the one spelling for
# scripts and script tests. Shell scripts source this file; Python ones read the line.
app_group_file=ostrela/group-containers/K7W2RQ9D4F.group.com.ostrela.safari-extension/preferences.json
