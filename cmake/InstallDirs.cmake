# Folders outside the install prefix that system services read, as Debian 12
# lays them out (its udev and systemd read /lib; later releases use /usr/lib).
set(VEXO_UDEV_RULES_DIR /lib/udev/rules.d CACHE PATH "Folder of udev rules")
set(VEXO_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH "Folder of systemd system units")
