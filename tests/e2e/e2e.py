import sys
if "--list" in sys.argv: pass
