'use strict';
'require baseclass';
'require rpc';

// The identity record as the rpcd plugin qvboard reads it (qv_info verify
// -j): the fields and the verdict from one read, so they agree. A call that
// fails on the bus (no plugin, no record, the ACL refused) rejects, so the
// status page leaves the box out instead of showing an empty one.
var callIdentity = rpc.declare({
	object: 'qvboard',
	method: 'identity',
	reject: true
});

// The record's bytes are text here, never markup: E() sets a lone string
// child as HTML, while the strings of an array become text nodes.
function field(value) {
	if (typeof(value) != 'string' || value == '')
		return E('em', {}, [ _('not set') ]);
	return [ value ];
}

function row(label, value) {
	return E('tr', { 'class': 'tr' }, [
		E('td', { 'class': 'td left', 'width': '33%' }, [ label ]),
		E('td', { 'class': 'td left' }, field(value))
	]);
}

return baseclass.extend({
	title: _('Board identity'),

	load: function() {
		return L.resolveDefault(callIdentity(), null);
	},

	render: function(identity) {
		if (!L.isObject(identity))
			return null;

		return E('table', { 'class': 'table' }, [
			row(_('Product'), identity.prdt),
			row(_('Hardware version'), identity.hdv),
			row(_('Serial number'), identity.uid),
			row(_('MAC address'), identity.mac),
			row(_('Provisioned'), identity.provisioned === true ? _('yes') : _('no'))
		]);
	}
});
