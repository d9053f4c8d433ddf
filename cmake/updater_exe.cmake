# Updater.exe and the embedding of a package as resource "UPDATE" 102.
