"""Tags the wheel for Windows x64 and refuses to build one without the DLL
beside the package's __init__.py (the build copies it there first)."""
import os
from typing import Any, Dict

from hatchling.builders.hooks.plugin.interface import BuildHookInterface

WHEEL_TAG = "py3-none-win_amd64"
DLL = os.path.join("src", "quillmar_gpuinfo", "quillmar-dxgi-gpu-info.dll")


class CustomBuildHook(BuildHookInterface):  # type: ignore[misc]
    def initialize(self, version: str, build_data: Dict[str, Any]) -> None:
        if not os.path.isfile(os.path.join(self.root, DLL)):
            raise FileNotFoundError(f"{DLL} is missing: the wheel carries the DLL")
        build_data["tag"] = WHEEL_TAG
        build_data["pure_python"] = False
