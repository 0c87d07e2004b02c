"""python3 -m partiscope find|plot ...: the partiscope command."""
import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
