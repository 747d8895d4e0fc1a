"""The package tool: makes a deployable package (NAME.exe beside NAME.cab) from a package folder,
checks a folder, verifies a package and previews what the launcher does with one.

    printer-package-tool make|check|verify|preview --help     installed (the Debian package)
    python3 -m packagetool make|check|verify|preview --help   in a checkout, with PYTHONPATH=scripts
    python3 -m packagetool make-package ...                   the command line of scripts/make-package
    printer-package-tool --version                            the tool's version
"""
