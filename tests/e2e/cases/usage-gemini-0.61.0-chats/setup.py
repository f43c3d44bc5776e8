"""The public sample run gemini-0.61.0-chats, as its harness wrote it."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import shared_samples

shared_samples.build("gemini-0.61.0-chats", sys.argv[1])
