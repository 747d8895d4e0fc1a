"""Mutation runner: plants one realistic bug at a time in a copy of the tree and tells whether the
tests notice. scripts/mutate is its command; see scripts/mutate --help, and scripts/mutations.txt
for the list and its format (mutation_list.py reads it)."""
