"""python -m fumivex2: the fumivex2 command."""
import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
