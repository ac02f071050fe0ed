# Options every module of the collection shares: where the system's installation is on the managed host.


class ModuleDocFragment(object):
    DOCUMENTATION = r"""
options:
  system_root:
    description:
      - The folder of the installation on the managed host (what C(QV_SYSTEM_ROOT) names for the system's
        programs).
      - Default C(QV_SYSTEM_ROOT) of the module's environment, else C($XDG_STATE_HOME/qv/root), else
        C(~/.local/state/qv/root).
      - The module never makes an installation; a host without one fails with a message saying so.
    type: path
  bin_dir:
    description:
      - The folder that holds the system's programs C(zmrmc) and C(wmi) on the managed host.
      - Default the C(PATH) of the module's environment.
    type: path
requirements:
  - The QV Instrumented BIOS system installed on the managed host (C(vrxBIOS -Install)).
"""
