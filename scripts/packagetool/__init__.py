"""The package tool: makes a deployable package (NAME.exe beside NAME.cab) from a package folder,
checks a folder, verifies a package and previews what the launcher does with one.

    python3 -m packagetool make|check|verify|preview --help
    python3 -m packagetool make-package ...     the command line of scripts/make-package
"""
