#!/bin/sh
# Stands in for the updater in the in-process hand-over test: shows it ran, and where.
pwd > handover-ran
echo "$#" >> handover-ran
