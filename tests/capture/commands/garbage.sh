#!/bin/sh
exec yes "this is not a picture"
